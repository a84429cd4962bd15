// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the main window with a generated hosts file (200,000 lines, or
// `--lines N`) under the offscreen platform: start-up beyond a one-line file, rebuilding the list,
// ADD, REMOVE and REMOVE ALL including their rebuild and repaint, and
// opening the entry editor and saving an edit (duplicate scan and rebuild).
#include "frmmain.h"
#include "generatedhosts.h"
#include "messagebox.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTableView>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

struct MainWindowBench {
    static void refreshList(frmMain& window) { window.RefreshList(); }
};

namespace {

constexpr int kRuns = 7;

std::unique_ptr<frmMain> openWindow(const std::string& path)
{
    auto window = std::make_unique<frmMain>([path] { return path; });
    window->Form_Load();
    QCoreApplication::processEvents();
    return window;
}

void selectRow(frmMain& window, int row)
{
    auto* list = window.findChild<QTableView*>("lstHosts");
    list->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

template <typename Action>
double timedWithRepaint(Action&& action)
{
    return medianMilliseconds(kRuns, [&] {
        action();
        QCoreApplication::processEvents();
    });
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::messagescript::enable(true); // notices answer Yes, REMOVE ALL answers Yes

    int lines = 200000;
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--lines")
            lines = std::max(1, std::atoi(argv[i + 1]));

    QTemporaryDir directory;
    const std::string large = directory.filePath("large.hosts").toStdString();
    const std::string oneLine = directory.filePath("one-line.hosts").toStdString();
    std::ofstream(large, std::ios::binary) << generatedHostsFile(lines);
    std::ofstream(oneLine, std::ios::binary) << "127.0.0.1 localhost\r\n";

    const double oneLineStartMs = medianMilliseconds(kRuns, [&] { openWindow(oneLine); });
    const double largeStartMs = medianMilliseconds(kRuns, [&] { openWindow(large); });

    auto window = openWindow(large);
    const double refreshMs = timedWithRepaint([&] { MainWindowBench::refreshList(*window); });

    int added = 0;
    const double addMs = timedWithRepaint([&] {
        window->findChild<QLineEdit*>("txtHost")->setText(QStringLiteral("added-%1.example").arg(++added));
        window->findChild<QPushButton*>("cmdAdd")->click();
    });

    const double removeMs = timedWithRepaint([&] {
        selectRow(*window, 1);
        window->findChild<QPushButton*>("cmdRemove")->click();
    });

    // The editor is modal: its part is timed from inside its own event loop.
    std::vector<double> openTimes;
    std::vector<double> saveTimes;
    for (int run = 0; run < kRuns; ++run) {
        selectRow(*window, 1);
        QElapsedTimer clock;
        double saveStartedMs = 0;
        QTimer::singleShot(0, [&] {
            openTimes.push_back(clock.nsecsElapsed() / 1e6);
            auto* editor = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            editor->findChild<QLineEdit*>("txtIP")->setText(QStringLiteral("10.9.9.%1").arg(run));
            saveStartedMs = clock.nsecsElapsed() / 1e6;
            editor->findChild<QPushButton*>("cmdSaveClose")->click();
        });
        clock.start();
        window->lstHosts_DblClick();
        QCoreApplication::processEvents();
        saveTimes.push_back(clock.nsecsElapsed() / 1e6 - saveStartedMs);
    }
    std::sort(openTimes.begin(), openTimes.end());
    std::sort(saveTimes.begin(), saveTimes.end());

    std::vector<std::unique_ptr<frmMain>> fresh;
    for (int run = 0; run < kRuns; ++run)
        fresh.push_back(openWindow(large));
    std::size_t next = 0;
    const double removeAllMs = timedWithRepaint([&] { fresh[next++]->findChild<QPushButton*>("cmRemoveAll")->click(); });

    std::printf("startup_extra_ms=%.2f (one line %.2f, large %.2f) refresh_ms=%.2f add_ms=%.2f remove_ms=%.2f "
                "remove_all_ms=%.2f editor_open_ms=%.2f editor_save_ms=%.2f entries=%zu\n",
                largeStartMs - oneLineStartMs, oneLineStartMs, largeStartMs, refreshMs, addMs, removeMs, removeAllMs,
                openTimes[openTimes.size() / 2], saveTimes[saveTimes.size() / 2], window->cHosts.size());
    return 0;
}
