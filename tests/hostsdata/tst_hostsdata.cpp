// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostcollection.h"
#include "hostsdatatestutil.h"
#include "hostsparser.h"
#include "hostsformatter.h"

#include <QTest>

#include <algorithm>
#include <cctype>
#include <random>

class HostsDataTest : public QObject {
    Q_OBJECT

private slots:
    // The entry collection
    void entryFieldsAreReachedByName();
    void addFailsOnKeyOfOtherLetterCase();
    void keysFoldEveryAsciiLetterAndNothingElse();
    void lookUpAndRemoveIgnoreLetterCase();
    void removeKeepsOrderOfOthersAndReAddAppends();
    void heldEntryOutlivesRemovalAndReset();
    void entriesMadeInBulkKeepTheirFields();
    void randomOperationsMatchSimpleModel();
    void addAllMatchesAddingOneByOne();

    // The reader
    void readerLineKinds();
    void readerHeaderKeepsBlanksAfterTab();
    void readerInlineComments_data();
    void readerInlineComments();
    void readerLineEndsAndByteOrderMark_data();
    void readerLineEndsAndByteOrderMark();
    void readerKeepsNulAndInvalidUtf8AndLongLines();
    void readerChunksMaySplitAnywhere();
    void readerDuplicatesAndNoticeAnswers();
    void readerNoticeGetsHostnameAsInFile();

    // The writer
    void writerWorkedExample();
    void writerNinePerLine();
    void writerEmptyCases();
    void writerCommentSplitsLines();
    void writerNeverBreaksALineInsideAField();
    void roundTripOfGeneratedCollections();
};

namespace {

void addAll(HostCollection& hosts, const std::vector<EntryFields>& entries)
{
    for (const auto& [ip, host, comment] : entries)
        QVERIFY(hosts.add(HostEntry::create(ip, host, comment)));
}

// Built by appending: GCC 12 warns falsely (-Wrestrict) on literal + string.
std::string numbered(const char* prefix, int number)
{
    std::string text = prefix;
    text += std::to_string(number);
    return text;
}

struct Reading {
    std::string header;
    std::vector<EntryFields> entries;
    std::vector<std::string> notices;
    ParseStats stats;
};

Reading readBytes(std::string_view bytes, std::vector<NoticeAnswer> answers = {})
{
    HostCollection hosts;
    Reading reading;
    auto notice = [&](std::string_view host) {
        reading.notices.emplace_back(host);
        if (answers.empty())
            return NoticeAnswer::KeepNoticing;
        const NoticeAnswer answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    };
    reading.stats = parseHosts(bytes, hosts, reading.header, notice);
    reading.entries = fieldsOf(hosts);
    return reading;
}

} // namespace

void HostsDataTest::entryFieldsAreReachedByName()
{
    const HostEntryRef entry = HostEntry::create("10.0.0.1", "alpha", "lab");
    QCOMPARE(entry->field("ip"), "10.0.0.1");
    QCOMPARE(entry->field("host"), "alpha");
    QCOMPARE(entry->field("comment"), "lab");
    QCOMPARE(entry->field("address"), "");
    const HostEntryRef empty = HostEntry::create("", "", "");
    QVERIFY(empty->ip().empty() && empty->host().empty() && empty->comment().empty());
}

void HostsDataTest::addFailsOnKeyOfOtherLetterCase()
{
    HostCollection hosts;
    QVERIFY(hosts.add(HostEntry::create("10.0.0.1", "server1", "")));
    QVERIFY(!hosts.add(HostEntry::create("10.0.0.2", "Server1", "x")));
    QVERIFY(!hosts.add(HostEntry::create("10.0.0.3", "SERVER1", "")));
    QCOMPARE(fieldsOf(hosts), (std::vector<EntryFields>{{"10.0.0.1", "server1", ""}}));
    // Only ASCII letters fold: bytes outside ASCII are compared exactly.
    QVERIFY(hosts.add(HostEntry::create("1", "\xC3\xA9", "")));
    QVERIFY(hosts.add(HostEntry::create("1", "\xC3\x89", "")));
    QVERIFY(hosts.add(HostEntry::create("1", std::string_view("server1\0", 8), "")));
    QCOMPARE(hosts.size(), std::size_t{4});
}

void HostsDataTest::keysFoldEveryAsciiLetterAndNothingElse()
{
    // Each byte in a full 8-byte block of the hash, at its edges, and in the
    // tail of a longer and of a shorter name.
    struct Place {
        std::size_t position, length;
    };
    const Place places[] = {{0, 8}, {7, 8}, {3, 11}, {9, 11}, {2, 5}};
    for (int code = 0; code < 256; ++code) {
        const char byte = static_cast<char>(code);
        const bool letter = code >= 'A' && code <= 'Z';
        const char lower = letter ? static_cast<char>(code + 32) : byte;
        QCOMPARE(asciiLower(std::string(1, byte)), std::string(1, lower));
        // The byte that differs only in the bit case folding sets.
        const char other = static_cast<char>(code ^ 0x20);
        const bool sameKey = letter || (code >= 'a' && code <= 'z');
        const QByteArray why = "byte " + QByteArray::number(code);
        for (const Place& place : places) {
            std::string name(place.length, 'q');
            name[place.position] = byte;
            std::string variant = name;
            variant[place.position] = other;
            if (sameKey)
                QVERIFY2(hostnameHash(name) == hostnameHash(variant), why);
            HostCollection hosts;
            QVERIFY(hosts.add(HostEntry::create("1", name, "")));
            QVERIFY2(hosts.add(HostEntry::create("1", variant, "")) != sameKey, why);
            QCOMPARE(sameHostname(name, variant), sameKey);
            // Only a '#' keeps a hostname or an address off a hosts line.
            QVERIFY2(fitsOnHostsLine(name, "1") == (byte != '#'), why);
            QVERIFY2(fitsOnHostsLine("q", name) == (byte != '#'), why);
        }
    }
}

void HostsDataTest::lookUpAndRemoveIgnoreLetterCase()
{
    HostCollection hosts;
    addAll(hosts, {{"1.1.1.1", "Alpha", "a"}, {"2.2.2.2", "beta", ""}});
    QVERIFY(hosts.lookUp("ALPHA"));
    QCOMPARE(hosts.lookUp("alpha")->host(), "Alpha");
    QVERIFY(!hosts.lookUp("gamma"));
    QVERIFY(hosts.remove("BETA"));
    QVERIFY(!hosts.remove("beta"));
    QCOMPARE(fieldsOf(hosts), (std::vector<EntryFields>{{"1.1.1.1", "Alpha", "a"}}));
}

void HostsDataTest::removeKeepsOrderOfOthersAndReAddAppends()
{
    HostCollection hosts;
    addAll(hosts, {{"1", "a", ""}, {"1", "b", ""}, {"1", "c", ""}, {"1", "d", ""}});
    QVERIFY(hosts.remove("b"));
    QVERIFY(hosts.add(HostEntry::create("2", "b", "")));
    std::vector<std::string> order;
    for (const HostEntry& entry : hosts)
        order.emplace_back(entry.host());
    QCOMPARE(order, (std::vector<std::string>{"a", "c", "d", "b"}));
}

void HostsDataTest::heldEntryOutlivesRemovalAndReset()
{
    HostCollection hosts;
    addAll(hosts, {{"10.0.0.1", "kept", "by the editor"}, {"10.0.0.2", "other", ""}});
    const HostEntryRef held = hosts.lookUp("kept");
    QVERIFY(hosts.remove("kept"));
    hosts.reset();
    QVERIFY(hosts.empty());
    QCOMPARE(held->host(), "kept");
    QCOMPARE(held->comment(), "by the editor");
}

void HostsDataTest::entriesMadeInBulkKeepTheirFields()
{
    // Runs of one address, odd lengths, empty fields, an entry too large to
    // share a block, and enough entries to fill many blocks: each entry keeps
    // exactly its own fields, also after its maker and every other entry of
    // its block are gone.
    std::vector<EntryFields> made;
    std::vector<HostEntryRef> entries;
    {
        HostEntryBlocks blocks;
        std::mt19937 random(3);
        for (int i = 0; i < 40000; ++i) {
            std::string ip = random() % 5 ? "0.0.0.0" : numbered("10.0.0.", static_cast<int>(random() % 3));
            if (random() % 1000 == 0)
                ip.clear();
            std::string host = numbered("h", i);
            host.append(random() % 9, 'x');
            std::string comment = random() % 7 ? std::string() : numbered("c", i);
            if (i == 20000)
                comment = std::string(100000, 'z');
            entries.push_back(blocks.create(ip, host, comment));
            made.emplace_back(ip, host, comment);
        }
    }
    for (std::size_t i = 0; i < made.size(); ++i) {
        const auto& [ip, host, comment] = made[i];
        QCOMPARE(entries[i]->ip(), ip);
        QCOMPARE(entries[i]->host(), host);
        QCOMPARE(entries[i]->comment(), comment);
    }
    const HostEntryRef last = entries.back();
    entries.clear();
    QCOMPARE(last->ip(), std::get<0>(made.back()));
    QCOMPARE(last->host(), std::get<1>(made.back()));
}

void HostsDataTest::randomOperationsMatchSimpleModel()
{
    // Enough removals to squeeze the holes out of the order several times.
    std::mt19937 random(12345);
    HostCollection hosts;
    std::vector<std::string> model;
    auto modelFind = [&](const std::string& host) {
        return std::find_if(model.begin(), model.end(),
                            [&](const std::string& present) { return sameHostname(present, host); });
    };
    for (int step = 0; step < 20000; ++step) {
        std::string host = "h";
        host += std::to_string(random() % 500);
        if (random() % 2)
            host[0] = 'H';
        if (random() % 3) {
            const bool expected = modelFind(host) == model.end();
            QCOMPARE(hosts.add(HostEntry::create("1", host, "")), expected);
            if (expected)
                model.push_back(host);
        } else {
            const auto found = modelFind(host);
            QCOMPARE(hosts.remove(host), found != model.end());
            if (found != model.end())
                model.erase(found);
        }
        // Reading in place by position, holes or none.
        if (step % 997 == 0 && !model.empty()) {
            QCOMPARE(hosts.size(), model.size());
            for (std::size_t position = 0; position < model.size(); ++position)
                QCOMPARE(hosts.at(position).host(), model[position]);
        }
    }
    std::vector<std::string> order;
    for (const HostEntry& entry : hosts)
        order.emplace_back(entry.host());
    QCOMPARE(order, model);
    QCOMPARE(hosts.size(), model.size());
    for (const std::string& host : model)
        QCOMPARE(hosts.lookUp(asciiLower(host))->host(), host);
}

void HostsDataTest::addAllMatchesAddingOneByOne()
{
    // Enough keys for the index to sort them into many buckets; letter case
    // varies, so duplicates compare by folded key, and part of the keys are
    // present before the batch.
    std::mt19937 random(99);
    auto makeKey = [&] {
        std::string host = numbered("host-", static_cast<int>(random() % 40000));
        for (char& c : host)
            if (random() % 4 == 0)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return host;
    };
    HostCollection oneByOne;
    HostCollection batched;
    for (int i = 0; i < 2000; ++i) {
        const HostEntryRef entry = HostEntry::create("1", makeKey(), "before");
        QCOMPARE(batched.add(entry), oneByOne.add(entry));
    }
    std::vector<HostEntryRef> batch;
    std::vector<std::string> refusedOneByOne;
    for (int i = 0; i < 60000; ++i) {
        batch.push_back(HostEntry::create(std::to_string(i), makeKey(), ""));
        if (!oneByOne.add(batch.back()))
            refusedOneByOne.emplace_back(batch.back()->host());
    }
    std::vector<std::string> refusedInBatch;
    for (const HostEntryRef& entry : batched.addAll(batch))
        refusedInBatch.emplace_back(entry->host());
    QVERIFY(!refusedInBatch.empty());
    QCOMPARE(refusedInBatch, refusedOneByOne);
    QCOMPARE(batched.size(), oneByOne.size());
    QCOMPARE(fieldsOf(batched), fieldsOf(oneByOne));
    for (const HostEntry& entry : oneByOne)
        QCOMPARE(batched.lookUp(asciiLower(entry.host()))->ip(), entry.ip());

    // The room a writer of the whole file takes: the bytes of every entry,
    // kept through batches with refusals, single adds, removals, a reading.
    const auto textOf = [](const HostCollection& hosts) {
        std::size_t bytes = 0;
        for (const HostEntry& entry : hosts)
            bytes += entry.ip().size() + entry.host().size() + entry.comment().size();
        return bytes;
    };
    QCOMPARE(batched.textBytes(), textOf(oneByOne));
    QCOMPARE(oneByOne.textBytes(), textOf(oneByOne));
    QVERIFY(batched.remove(batched.at(0).host()));
    QCOMPARE(batched.textBytes(), textOf(batched));
    HostCollection read;
    std::string header;
    parseHosts(formatHostsFile("", oneByOne) + "10.0.0.1 Host-1 # again\n", read, header);
    QCOMPARE(read.textBytes(), textOf(read));
    batched.reset();
    QCOMPARE(batched.textBytes(), 0u);
}

void HostsDataTest::readerLineKinds()
{
    const Reading reading = readBytes("# first\r\n"
                                      "\r\n"
                                      "   \t \r\n"
                                      "  # second, indented\r\n"
                                      "127.0.0.1 localhost loopback\r\n"
                                      "# commented.out.example\r\n"
                                      "\r\n"
                                      "10.0.0.9\r\n"
                                      "10.0.0.1\t \tone\r\n");
    QCOMPARE(reading.header, "# first\r\n# second, indented\r\n");
    QCOMPARE(reading.entries,
             (std::vector<EntryFields>{
                 {"127.0.0.1", "localhost", ""}, {"127.0.0.1", "loopback", ""}, {"10.0.0.1", "one", ""}}));

    // An address alone ends the header without giving an entry.
    const Reading addressOnly = readBytes("# kept\n10.0.0.1 # nothing here\n# dropped\n10.0.0.2 two\n");
    QCOMPARE(addressOnly.header, "# kept\r\n");
    QCOMPARE(addressOnly.entries, (std::vector<EntryFields>{{"10.0.0.2", "two", ""}}));

    QCOMPARE(readBytes("").header, "");
    QVERIFY(readBytes("").entries.empty());
    QCOMPARE(readBytes("# a\n\n# b\n").header, "# a\r\n# b\r\n");
}

void HostsDataTest::readerHeaderKeepsBlanksAfterTab()
{
    QCOMPARE(readBytes("#\t   indented\n").header, "#    indented\r\n");
    QCOMPARE(readBytes("\t# lead\t\n").header, "# lead\r\n");
}

void HostsDataTest::readerInlineComments_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("comment");
    QTest::addColumn<QByteArray>("hosts");
    QTest::newRow("plain") << QByteArray("10.0.0.1 alpha beta # test machines") << QByteArray("test machines")
                           << QByteArray("alpha,beta");
    QTest::newRow("second hash kept") << QByteArray("10.0.0.1 alpha # x # y") << QByteArray("x # y")
                                      << QByteArray("alpha");
    QTest::newRow("no blank before hash")
        << QByteArray("10.0.0.1 alpha#note") << QByteArray("note") << QByteArray("alpha");
    QTest::newRow("tab inside comment") << QByteArray("10.0.0.1 alpha #\ta\tb\t") << QByteArray("a b")
                                        << QByteArray("alpha");
    QTest::newRow("empty comment") << QByteArray("10.0.0.1 alpha #   ") << QByteArray("") << QByteArray("alpha");
}

void HostsDataTest::readerInlineComments()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, comment);
    QFETCH(QByteArray, hosts);
    const Reading reading = readBytes(line.toStdString());
    QByteArrayList names;
    for (const auto& [ip, host, entryComment] : reading.entries) {
        QCOMPARE(ip, "10.0.0.1");
        QCOMPARE(QByteArray::fromStdString(entryComment), comment);
        names << QByteArray::fromStdString(host);
    }
    QCOMPARE(names.join(','), hosts);
}

void HostsDataTest::readerLineEndsAndByteOrderMark_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("CR LF") << QByteArray("# h\r\n1.1.1.1 a\r\n2.2.2.2\tb\r\n");
    QTest::newRow("LF") << QByteArray("# h\n1.1.1.1 a\n2.2.2.2\tb\n");
    QTest::newRow("CR") << QByteArray("# h\r1.1.1.1 a\r2.2.2.2\tb\r");
    QTest::newRow("mixed, no final end") << QByteArray("# h\r1.1.1.1 a\n\r\n2.2.2.2\tb");
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF# h\r\n1.1.1.1 a\r\n2.2.2.2 b\r\n");
}

void HostsDataTest::readerLineEndsAndByteOrderMark()
{
    QFETCH(QByteArray, bytes);
    const Reading reading = readBytes(bytes.toStdString());
    QCOMPARE(reading.header, "# h\r\n");
    QCOMPARE(reading.entries, (std::vector<EntryFields>{{"1.1.1.1", "a", ""}, {"2.2.2.2", "b", ""}}));
}

void HostsDataTest::readerKeepsNulAndInvalidUtf8AndLongLines()
{
    using namespace std::string_literals;
    const Reading odd = readBytes("1.1.1.1 nul\0byte \xFF\xFEname # c\0mment\xC3\n"s);
    QCOMPARE(odd.entries,
             (std::vector<EntryFields>{{"1.1.1.1", "nul\0byte"s, "c\0mment\xC3"s},
                                       {"1.1.1.1", "\xFF\xFEname", "c\0mment\xC3"s}}));

    const std::string longHost(3 * 1024 * 1024, 'x');
    const Reading longLine = readBytes("# " + std::string(1024 * 1024, 'h') + "\n0.0.0.0 " + longHost + " short\n");
    QCOMPARE(longLine.header.size(), std::size_t{2 + 1024 * 1024 + 2});
    QCOMPARE(longLine.entries.size(), std::size_t{2});
    QCOMPARE(std::get<1>(longLine.entries[0]), longHost);
    QCOMPARE(std::get<1>(longLine.entries[1]), "short");
}

void HostsDataTest::readerChunksMaySplitAnywhere()
{
    using namespace std::string_literals;
    // Cut between CR and LF, inside the byte-order mark, in a field, at the end.
    std::vector<std::string> inputs = {
        "\xEF\xBB\xBF# h\r\n1.1.1.1 a b # c\r\n\r\n2.2.2.2\tA\r3.3.3.3 d\n4.4.4.4 e"s,
        "\xEF\xBB# not a mark\n1.1.1.1 a\r\r\n"s,
        "\r\n\r\r\n\n# late\n9.9.9.9 z # \0x\r"s,
    };
    for (const char* fixture : {"mixed-line-ends.hosts", "tabbed-header.hosts", "duplicates.hosts"})
        inputs.push_back(fixtureBytes(fixture));
    auto parse = [](const std::vector<std::string_view>& chunks) {
        HostsParser parser;
        for (std::string_view chunk : chunks)
            parser.feed(chunk);
        HostCollection hosts;
        Reading reading;
        reading.stats = parser.finish(hosts, reading.header);
        reading.entries = fieldsOf(hosts);
        return reading;
    };
    std::mt19937 random(5);
    for (const std::string& input : inputs) {
        QVERIFY(!input.empty());
        const Reading whole = readBytes(input);
        const std::string_view bytes = input;
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            const Reading split = parse({bytes.substr(0, cut), bytes.substr(cut)});
            QCOMPARE(split.header, whole.header);
            QCOMPARE(split.entries, whole.entries);
            QCOMPARE(split.stats.duplicates, whole.stats.duplicates);
        }
        std::vector<std::string_view> small;
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t length = 1 + random() % 5;
            small.push_back(bytes.substr(at, length));
            at += length;
        }
        const Reading byteByByte = parse(small);
        QCOMPARE(byteByByte.header, whole.header);
        QCOMPARE(byteByByte.entries, whole.entries);
    }
}

void HostsDataTest::readerDuplicatesAndNoticeAnswers()
{
    const std::string bytes = "1.1.1.1 a a # first\n"
                              "2.2.2.2 A b\n"
                              "3.3.3.3 B\n"
                              "4.4.4.4 b c\n";
    // No to the first notice shows the second; Silence there hides the third.
    const Reading reading = readBytes(bytes, {NoticeAnswer::KeepNoticing, NoticeAnswer::Silence});
    QCOMPARE(reading.notices, (std::vector<std::string>{"a", "A"}));
    QCOMPARE(reading.stats.duplicates, std::size_t{4});
    QCOMPARE(reading.entries,
             (std::vector<EntryFields>{{"1.1.1.1", "a", "first"}, {"2.2.2.2", "b", ""}, {"4.4.4.4", "c", ""}}));

    const Reading allShown = readBytes(bytes);
    QCOMPARE(allShown.notices, (std::vector<std::string>{"a", "A", "B", "b"}));
}

void HostsDataTest::readerNoticeGetsHostnameAsInFile()
{
    const Reading reading = readBytes("1.1.1.1 Server1\n2.2.2.2 SERVER1\n");
    QCOMPARE(reading.notices, (std::vector<std::string>{"SERVER1"}));
    QCOMPARE(reading.entries, (std::vector<EntryFields>{{"1.1.1.1", "Server1", ""}}));
}

void HostsDataTest::writerWorkedExample()
{
    HostCollection hosts;
    addAll(hosts,
           {{"127.0.0.1", "localhost", "Local loop-back hostname"},
            {"10.0.0.1", "alpha", ""},
            {"10.0.0.1", "beta", ""},
            {"10.0.0.1", "gamma", ""},
            {"10.0.0.1", "delta", "test"},
            {"10.0.0.2", "epsilon", ""}});
    for (int i = 1; i <= 11; ++i)
        addAll(hosts, {{"10.0.0.5", numbered(i < 10 ? "h0" : "h", i), ""}});
    addAll(hosts, {{"10.0.0.1", "zeta", ""}});

    QCOMPARE(formatHostsFile("# managed by hand\r\n# lab\r\n", hosts),
             "# managed by hand\r\n"
             "# lab\r\n"
             "\r\n"
             "127.0.0.1\tlocalhost\t\t# Local loop-back hostname\r\n"
             "10.0.0.1\talpha beta gamma\r\n"
             "10.0.0.1\tdelta\t\t# test\r\n"
             "10.0.0.2\tepsilon\r\n"
             "10.0.0.5\th01 h02 h03 h04 h05 h06 h07 h08 h09\r\n"
             "10.0.0.5\th10 h11\r\n"
             "10.0.0.1\tzeta\r\n");
}

void HostsDataTest::writerNinePerLine()
{
    HostCollection hosts;
    for (int i = 0; i < 19; ++i)
        addAll(hosts, {{"0.0.0.0", numbered("n", i), ""}});
    QCOMPARE(formatHostsFile("", hosts),
             "\r\n"
             "0.0.0.0\tn0 n1 n2 n3 n4 n5 n6 n7 n8\r\n"
             "0.0.0.0\tn9 n10 n11 n12 n13 n14 n15 n16 n17\r\n"
             "0.0.0.0\tn18\r\n");
    // Addresses are compared exactly, letter case included.
    HostCollection cased;
    addAll(cased, {{"fe80::A", "x", ""}, {"fe80::a", "y", ""}});
    QCOMPARE(formatHostsFile("", cased), "\r\nfe80::A\tx\r\nfe80::a\ty\r\n");
}

void HostsDataTest::writerEmptyCases()
{
    HostCollection hosts;
    QCOMPARE(formatHostsFile("", hosts), "\r\n\r\n");
    QCOMPARE(formatHostsFile("# only\r\n", hosts), "# only\r\n\r\n\r\n");
}

void HostsDataTest::writerCommentSplitsLines()
{
    HostCollection hosts;
    addAll(hosts, {{"1.1.1.1", "a", ""}, {"1.1.1.1", "b", "note"}, {"1.1.1.1", "c", ""}});
    QCOMPARE(formatHostsFile("", hosts), "\r\n1.1.1.1\ta\r\n1.1.1.1\tb\t\t# note\r\n1.1.1.1\tc\r\n");

    // Two hostnames read from one commented line come out on two lines.
    HostCollection read;
    std::string header;
    parseHosts("10.0.0.1 alpha beta # pair\n", read, header);
    QCOMPARE(formatHostsFile(header, read), "\r\n10.0.0.1\talpha\t\t# pair\r\n10.0.0.1\tbeta\t\t# pair\r\n");
}

void HostsDataTest::writerNeverBreaksALineInsideAField()
{
    using namespace std::string_literals;
    HostCollection hosts;
    addAll(hosts, {{"1.1.1.1\r\n6.6.6.6", "evil\nbank.example", "a\rb\0c"s}});
    const std::string written = formatHostsFile("", hosts);
    QCOMPARE(written, "\r\n1.1.1.1  6.6.6.6\tevil bank.example\t\t# a b\0c\r\n"s);

    HostCollection back;
    std::string header;
    parseHosts(written, back, header);
    QCOMPARE(back.size(), std::size_t{3}); // the pieces stay on the one line of 1.1.1.1
    QCOMPARE(back.lookUp("bank.example")->ip(), "1.1.1.1");

    // A NUL read from the file goes back as it came: the system's resolver
    // stops at it, so a blank there would bring the rest of the name to life.
    HostCollection nul;
    parseHosts("1.1.1.1 nul\0hidden.example\n"s, nul, header);
    QCOMPARE(formatHostsFile("", nul), "\r\n1.1.1.1\tnul\0hidden.example\r\n"s);

    // A lone CR, inside a full 8-byte block and in the tail.
    HostCollection lone;
    addAll(lone, {{"2.2.2.2", "lone\rcarriage.example", "tail\rcr"}});
    QCOMPARE(formatHostsFile("", lone), "\r\n2.2.2.2\tlone carriage.example\t\t# tail cr\r\n"s);
}

void HostsDataTest::roundTripOfGeneratedCollections()
{
    std::mt19937 random(2024);
    const std::string alphabet = "abcXYZ019.-_:\xC3\xA9";
    auto word = [&](std::size_t minimum) {
        std::string text;
        const std::size_t length = minimum + random() % 8;
        for (std::size_t i = 0; i < length; ++i)
            text += alphabet[random() % alphabet.size()];
        return text;
    };
    for (int round = 0; round < 300; ++round) {
        std::string header;
        for (std::size_t line = random() % 3; line > 0; --line)
            header += "# " + word(0) + " x\r\n";
        HostCollection hosts;
        const std::string addresses[] = {"127.0.0.1", "0.0.0.0", "::1", word(1)};
        for (std::size_t count = random() % 40; count > 0; --count) {
            std::string comment = random() % 4 ? "" : word(1) + " #" + word(0) + " " + word(1);
            hosts.add(HostEntry::create(addresses[random() % 4], word(1), comment));
        }

        HostCollection back;
        std::string backHeader;
        const ParseStats stats = parseHosts(formatHostsFile(header, hosts), back, backHeader);
        QCOMPARE(backHeader, header);
        QCOMPARE(fieldsOf(back), fieldsOf(hosts));
        QCOMPARE(stats.duplicates, std::size_t{0});
    }
}

QTEST_APPLESS_MAIN(HostsDataTest)
#include "tst_hostsdata.moc"
