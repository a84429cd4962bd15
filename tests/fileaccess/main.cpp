// SPDX-License-Identifier: GPL-3.0-or-later
// One test program for the file access: reading (the same on every system)
// and saving (a test of its own per system).
#include <QCoreApplication>
#include <QTest>

#include <memory>

std::unique_ptr<QObject> newFileReadTest();
std::unique_ptr<QObject> newFileSaveTest();

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    int failed = 0;
    for (const auto& test : {newFileReadTest(), newFileSaveTest()})
        failed += QTest::qExec(test.get(), argc, argv);
    return failed;
}
