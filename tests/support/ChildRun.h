#pragma once

#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace jw::test {

// Whether this process is the child that passesInChild started.
bool inChild();

// Runs the current test again in a child process of this test program with `env` (a session bus
// of its own, say), where inChild() is true. Passes when the child's run of the test passed; the
// child's output comes with a failure.
::testing::AssertionResult passesInChild(QProcessEnvironment env);

} // namespace jw::test
