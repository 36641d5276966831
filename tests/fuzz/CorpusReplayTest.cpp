#include "tests/fuzz/FuzzProperties.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

// Every stored fuzz input, including each crash the fuzzers once found, keeps its properties in
// the ordinary build too.
class CorpusReplay : public ::testing::TestWithParam<jw::fuzz::Target>
{};

TEST_P(CorpusReplay, EveryStoredInputKeepsItsProperties)
{
    const QDir corpus(QStringLiteral(JW_SOURCE_DIR "/tests/fuzz/corpus/") + QLatin1String(GetParam().name));
    const QStringList files = corpus.entryList(QDir::Files);
    ASSERT_FALSE(files.isEmpty()) << "no seed corpus in " << corpus.path().toStdString();
    for (const QString& name : files) {
        QFile file(corpus.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray input = file.readAll();
        const auto broken = GetParam().check(input);
        EXPECT_FALSE(broken) << name.toStdString() << ": " << broken.value_or("");
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, CorpusReplay, ::testing::ValuesIn(jw::fuzz::kTargets), [](const auto& param) {
    std::string name = param.param.name;
    std::erase(name, '-');
    return name;
});

} // namespace
