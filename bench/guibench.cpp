// Measures the main window with a 200,000-line hosts file under the
// offscreen platform: start-up beyond an empty file, rebuilding the list,
// and ADD, REMOVE and REMOVE ALL including their rebuild and repaint.
#include "frmmain.h"
#include "generatedhosts.h"
#include "messagebox.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdio>
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
    auto* list = window.findChild<QTreeView*>("lstHosts");
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

    QTemporaryDir directory;
    const std::string large = directory.filePath("large.hosts").toStdString();
    const std::string empty = directory.filePath("empty.hosts").toStdString();
    std::ofstream(large, std::ios::binary) << generatedHostsFile(200000);
    std::ofstream(empty, std::ios::binary) << "";

    const double emptyStartMs = medianMilliseconds(kRuns, [&] { openWindow(empty); });
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

    std::vector<std::unique_ptr<frmMain>> fresh;
    for (int run = 0; run < kRuns; ++run)
        fresh.push_back(openWindow(large));
    std::size_t next = 0;
    const double removeAllMs = timedWithRepaint([&] { fresh[next++]->findChild<QPushButton*>("cmRemoveAll")->click(); });

    std::printf("startup_extra_ms=%.2f (empty %.2f, 200k %.2f) refresh_ms=%.2f add_ms=%.2f remove_ms=%.2f "
                "remove_all_ms=%.2f entries=%zu\n",
                largeStartMs - emptyStartMs, emptyStartMs, largeStartMs, refreshMs, addMs, removeMs, removeAllMs,
                window->cHosts.size());
    return 0;
}
