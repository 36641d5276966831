#pragma once

#include <QProcessEnvironment>
#include <QStringList>

#include <gtest/gtest.h>

namespace jw::test {

// Whether this process is the child that passesInChild started.
bool inChild();

// Runs the current test again in a child process of this test program with `env` (a session bus
// of its own, say), where inChild() is true. Passes when the child's run of the test passed; the
// child's output comes with a failure. A wrapper, if given, is the command that runs the child
// (the child's program and arguments follow it).
::testing::AssertionResult passesInChild(QProcessEnvironment env, const QStringList& wrapper = {});

} // namespace jw::test
