// SPDX-License-Identifier: GPL-3.0-or-later
// Memory on huge pages: blocks carved from regions that are given back with
// their last block, large allocations aligned to a huge page, and a reading
// that maps regions only once it is large.
#include "hostsparser.h"
#include "largememory.h"

#include <QTest>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/mman.h>
#endif

namespace {

constexpr std::size_t kBlock = 256 * 1024;

bool aligned(const void* data, std::size_t alignment)
{
    return reinterpret_cast<std::uintptr_t>(data) % alignment == 0;
}

#ifndef _WIN32
// Whether the page at `data` is mapped: msync answers ENOMEM for one that is not.
bool mapped(const void* data)
{
    const auto page = reinterpret_cast<std::uintptr_t>(data) & ~std::uintptr_t{4095};
    return ::msync(reinterpret_cast<void*>(page), 4096, MS_ASYNC) == 0;
}
#endif

} // namespace

class LargeMemoryTest : public QObject {
    Q_OBJECT

private slots:
    void blocksAreAlignedAndRegionsGoWithTheirLastBlock();
    void largeAllocationsHoldWhatIsWritten_data();
    void largeAllocationsHoldWhatIsWritten();
    void onlyALargeReadingTakesRegions();
};

void LargeMemoryTest::blocksAreAlignedAndRegionsGoWithTheirLastBlock()
{
    const std::size_t perRegion = largememory::kHugePageBytes / kBlock;
    const std::size_t before = largememory::regionCount();
    std::vector<char*> blocks;
    for (std::size_t i = 0; i < 2 * perRegion + 1; ++i) {
        blocks.push_back(static_cast<char*>(largememory::allocateRegionBlock(kBlock)));
        QVERIFY(aligned(blocks.back(), kBlock));
        std::memset(blocks.back(), int(i), kBlock); // all of it is usable
    }
    for (std::size_t i = 0; i < blocks.size(); ++i)
        QCOMPARE(blocks[i][kBlock - 1], char(i));
#ifndef _WIN32
    QCOMPARE(largememory::regionCount(), before + 3);
    // The first region stays while any of its blocks lives.
    for (std::size_t i = 1; i < perRegion; ++i)
        largememory::releaseRegionBlock(blocks[i], kBlock);
    QVERIFY(mapped(blocks[0]));
    largememory::releaseRegionBlock(blocks[0], kBlock);
    QVERIFY(!mapped(blocks[0]));
    QCOMPARE(largememory::regionCount(), before + 2);
    for (std::size_t i = perRegion; i < blocks.size(); ++i)
        largememory::releaseRegionBlock(blocks[i], kBlock);
    QVERIFY(!mapped(blocks.back()));
#else
    for (char* block : blocks)
        largememory::releaseRegionBlock(block, kBlock);
#endif
    QCOMPARE(largememory::regionCount(), before);
}

void LargeMemoryTest::largeAllocationsHoldWhatIsWritten_data()
{
    QTest::addColumn<qulonglong>("bytes");
    QTest::newRow("small, from the heap") << qulonglong(1000);
    QTest::newRow("one huge page") << qulonglong(largememory::kHugePageBytes);
    QTest::newRow("more than three") << qulonglong(3 * largememory::kHugePageBytes + 17);
}

void LargeMemoryTest::largeAllocationsHoldWhatIsWritten()
{
    QFETCH(qulonglong, bytes);
    auto* data = static_cast<unsigned char*>(largememory::allocateLarge(bytes));
    for (std::size_t i = 0; i < bytes; i += 4093)
        data[i] = static_cast<unsigned char>(i);
    data[bytes - 1] = 0xAB;
    for (std::size_t i = 0; i + 1 < bytes; i += 4093)
        QCOMPARE(data[i], static_cast<unsigned char>(i));
    QCOMPARE(data[bytes - 1], 0xAB);
#ifndef _WIN32
    if (bytes >= largememory::kHugePageBytes)
        QVERIFY(aligned(data, largememory::kHugePageBytes));
#endif
    largememory::releaseLarge(data, bytes);
#ifndef _WIN32
    if (bytes >= largememory::kHugePageBytes)
        QVERIFY(!mapped(data));
#endif
}

void LargeMemoryTest::onlyALargeReadingTakesRegions()
{
    const std::size_t before = largememory::regionCount();
    {
        HostCollection hosts;
        std::string header;
        parseHosts("127.0.0.1 localhost\n", hosts, header);
        QCOMPARE(largememory::regionCount(), before);
    }
    std::string large;
    for (int i = 0; i < 100000; ++i)
        large += "0.0.0.0 ads" + std::to_string(i) + ".tracker.example\n";
    {
        HostCollection hosts;
        std::string header;
        parseHosts(large, hosts, header);
        QCOMPARE(hosts.size(), 100000u);
#ifndef _WIN32
        QVERIFY(largememory::regionCount() > before);
#endif
    }
    QCOMPARE(largememory::regionCount(), before);
}

QTEST_APPLESS_MAIN(LargeMemoryTest)
#include "tst_largememory.moc"
