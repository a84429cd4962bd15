// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "filetext.h"
#include "frmmain.h"
#include "messagebox.h"
#include "previousversions.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTableView>

#include <memory>

// A main window over a copy of a fixture file, with message boxes scripted.
// The previous versions its saves keep go to a folder of its own.
class MainWindowFixture {
public:
    // An empty fixture name starts without a hosts file.
    explicit MainWindowFixture(const QString& fixture, QList<platform::MessageAnswer> answers = {})
    {
        hostsPath = directory.filePath(QStringLiteral("hosts"));
        previousversions::testing::setStateFolder(platform::pathFromText(stateFolder()));
        if (!fixture.isEmpty()) {
            QFile::copy(QStringLiteral(TESSALY_TEST_DATA_DIR "/") + fixture, hostsPath);
            QFile::setPermissions(hostsPath, QFile::ReadOwner | QFile::WriteOwner);
        }
        platform::messagescript::clear();
        platform::messagescript::enable(true);
        for (platform::MessageAnswer answer : answers)
            platform::messagescript::queueAnswer(answer);
        start();
    }

    // Starts a new window over the hosts file as it is now.
    void start()
    {
        window = std::make_unique<frmMain>([path = hostsPath.toStdString()] { return path; });
        ending = std::make_unique<QSignalSpy>(window.get(), &frmMain::programEnding);
        window->Form_Load();
    }

    template <typename T = QWidget>
    T* control(const char* name) const
    {
        return window->findChild<T*>(QLatin1String(name));
    }
    QLineEdit* box(const char* name) const { return control<QLineEdit>(name); }
    QPushButton* button(const char* name) const { return control<QPushButton>(name); }
    QTableView* list() const { return control<QTableView>("lstHosts"); }

    int rowCount() const { return list()->model()->rowCount(); }
    QString cell(int row, int column) const { return list()->model()->index(row, column).data().toString(); }
    QStringList hostColumn() const
    {
        QStringList hosts;
        for (int row = 0; row < rowCount(); ++row)
            hosts << cell(row, 0);
        return hosts;
    }
    int selectedRow() const
    {
        const QModelIndexList rows = list()->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }
    void clickRow(int row) const
    {
        const QRect cellRect = list()->visualRect(list()->model()->index(row, 0));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, cellRect.center());
    }
    void doubleClickRow(int row) const
    {
        const QRect cellRect = list()->visualRect(list()->model()->index(row, 0));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, cellRect.center());
        QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, cellRect.center());
    }
    void add(const QString& host, const QString& address, const QString& comment = {}) const
    {
        box("txtHost")->setText(host);
        box("txtIP")->setText(address);
        box("txtComment")->setText(comment);
        QTest::mouseClick(button("cmdAdd"), Qt::LeftButton);
    }
    QByteArray fileBytes() const
    {
        QFile file(hostsPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    bool ended() const { return ending->count() > 0; }
    QString stateFolder() const { return state.filePath(QStringLiteral("state")); }

    static QList<platform::MessageRequest> boxes() { return platform::messagescript::shown(); }
    static void answerNext(platform::MessageAnswer answer) { platform::messagescript::queueAnswer(answer); }

    QTemporaryDir directory;
    QTemporaryDir state; // apart: tests remove the hosts file's folder
    QString hostsPath;
    std::unique_ptr<frmMain> window;
    std::unique_ptr<QSignalSpy> ending;
};

namespace QTest {
template <>
inline char* toString(const platform::MessageIcon& icon)
{
    const char* names[] = {"Information", "Exclamation", "Question"};
    return qstrdup(names[static_cast<int>(icon)]);
}
template <>
inline char* toString(const platform::MessageButtons& buttons)
{
    const char* names[] = {"Ok", "YesNo", "YesNoCancel"};
    return qstrdup(names[static_cast<int>(buttons)]);
}
} // namespace QTest
