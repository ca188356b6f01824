// The receive-path fuzzer's corpus, replayed on every run: each input goes
// through the receive path with its properties checked (a broken one aborts).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <set>

#include "exchanges/ExchangeTable.h"
#include "support/ReceiveFuzz.h"

namespace {

QString CorpusDir()
{
    return QDir(QStringLiteral(ZASHCHITA_TESTS_DIR)).filePath(QStringLiteral("fuzz/corpus"));
}

TEST(FuzzCorpus, EveryInputKeepsTheReceivePathsProperties)
{
    const QDir dir(CorpusDir());
    const QStringList inputs = dir.entryList(QDir::Files);
    ASSERT_GE(inputs.size(), 20) << qPrintable(dir.path());
    for (const QString& name : inputs) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(name);
        const QByteArray bytes = file.readAll();
        FuzzReceive(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
    }
}

// The fuzzer sends every block the exchange table reads.
TEST(FuzzCorpus, FuzzedRequestsCoverEveryBlockOfTheExchangeTable)
{
    std::set<std::pair<int, int>> fuzzed;
    for (const FuzzRequest& r : FuzzRequests())
        if (r.function == 3)
            fuzzed.insert({r.reg, r.operand});
    for (const Exchange& e : Exchanges())
        for (const RegisterBlock& b : e.blocks)
            EXPECT_TRUE(fuzzed.count({b.first, b.count})) << e.name << " block " << b.first;
}

}  // namespace
