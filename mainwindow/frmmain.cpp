// SPDX-License-Identifier: GPL-3.0-or-later
#include "frmmain.h"

#include "accessibility.h"
#include "controls.h"
#include "ending.h"
#include "fileread.h"
#include "focusframe.h"
#include "frmeditentry.h"
#include "guard.h"
#include "hostname.h"
#include "hostsfilesave.h"
#include "hostslistaccessible.h"
#include "hostslistview.h"
#include "hostslocation.h"
#include "hoststablemodel.h"
#include "keypreview.h"
#include "messagebox.h"
#include "pictures.h"
#include "previousversions.h"
#include "text.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QDir>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableView>

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

namespace {

const QString kLocalhost = QStringLiteral("localhost");
const QString kDefaultAddress = QStringLiteral("127.0.0.1");

} // namespace

frmMain::frmMain(HostsPathSource hostsPath, QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                  | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , hostsPathSource_(hostsPath ? std::move(hostsPath) : fileaccess::systemHostsFilePath)
{
    // Before any control exists, so that each gets its own interface.
    platform::installAccessibleFactory(platform::tessalyWidgetAccessible);
    platform::installAccessibleFactory(hostsListAccessible);
    platform::showFocusRing();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tessaly"));
    setWindowIcon(QIcon(resources::picture("tessaly")));
    setFont(platform::captionFont());
    setFixedSize(platform::twipsToPixels(7395), platform::twipsToPixels(6015));
    buildControls();
    keyPreview_ = new platform::KeyPreview(
        this, [this] { cmdCancel->click(); },
        [this](int keyCode, int shift) { platform::runGuarded([&] { Form_KeyUp(keyCode, shift); }); });
}

frmMain::~frmMain() = default;

void frmMain::buildControls()
{
    using platform::captionFont;
    using platform::makeButton;
    using platform::makeLabel;
    using platform::makeTextBox;
    using platform::placeTwips;

    auto* frame = new QGroupBox(QStringLiteral("HOSTS"), this);
    Frame1 = frame;
    frame->setObjectName(QStringLiteral("Frame1"));
    placeTwips(frame, 165, 135, 7050, 5175);

    platform::placeCaptions(frame,
                            {{1, "NAME OF HOSTS TO ADD", 210, 375, true},
                             {2, "IP ADDRESS :", 4800, 360, true},
                             {4, "COMMENT (OPTIONAL):", 210, 975, false},
                             {3, "HOSTS :", 225, 1830, true},
                             {0, "DOUBLE-CLICK TO EDIT AN ENTRY", 4320, 1800, false}});

    txtHost = makeTextBox(frame, "txtHost", QStringLiteral("Name of hosts to add"));
    placeTwips(txtHost, 195, 645, 4440, 285);
    txtIP = makeTextBox(frame, "txtIP", QStringLiteral("IP address"));
    txtIP->setText(kDefaultAddress);
    placeTwips(txtIP, 4800, 630, 2085, 300);
    txtComment = makeTextBox(frame, "txtComment", QStringLiteral("Comment (optional)"));
    placeTwips(txtComment, 210, 1245, 4440, 285);
    cmdAdd = makeButton(frame, "cmdAdd", QStringLiteral("ADD"), captionFont());
    placeTwips(cmdAdd, 5745, 1155, 1110, 375);

    auto* line = new platform::SeparatorLine(frame, palette().color(QPalette::Inactive, QPalette::Mid));
    line->setObjectName(QStringLiteral("Line1"));
    line->setGeometry(platform::twipsToPixels(225), platform::twipsToPixels(1710), platform::twipsToPixels(6855 - 225),
                      1);

    model_ = new HostsTableModel(this);
    // A table view with rows of one fixed height lays out no row by row, so
    // a rebuild costs the same at 200,000 rows as at ten.
    lstHosts = new HostsListView(frame);
    lstHosts->setObjectName(QStringLiteral("lstHosts"));
    lstHosts->setAccessibleName(QStringLiteral("Hosts"));
    lstHosts->setAccessibleDescription(
        QStringLiteral("Double-click an entry, press Enter on it, or use its Press action to edit it."));
    lstHosts->setModel(model_);
    lstHosts->setFont(platform::fieldFont());
    platform::paintWhiteOnBlue(lstHosts);
    platform::paintWhiteOnBlue(lstHosts->viewport());
    lstHosts->setShowGrid(false);
    lstHosts->setWordWrap(false);
    lstHosts->setCornerButtonEnabled(false);
    lstHosts->verticalHeader()->setVisible(false);
    lstHosts->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lstHosts->verticalHeader()->setDefaultSectionSize(QFontMetrics(platform::fieldFont()).height() + 2);
    lstHosts->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    lstHosts->setSelectionMode(QAbstractItemView::SingleSelection);
    lstHosts->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstHosts->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstHosts->setSortingEnabled(false);
    // Tab follows the window's tab order instead of moving from cell to
    // cell, which would trap the keyboard in the list.
    lstHosts->setTabKeyNavigation(false);
    lstHosts->installEventFilter(this);
    QHeaderView* header = lstHosts->horizontalHeader();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lstHosts->setColumnWidth(HostsTableModel::HostColumn, platform::twipsToPixels(2400));
    lstHosts->setColumnWidth(HostsTableModel::IpColumn, platform::twipsToPixels(1440));
    lstHosts->setColumnWidth(HostsTableModel::CommentColumn, platform::twipsToPixels(2400));
    placeTwips(lstHosts, 225, 2100, 6600, 2400);

    lblHostsFile = makeLabel(frame, "lblHostsFile", QStringLiteral("(path to hosts file)"), platform::fieldFont());
    lblHostsFile->move(platform::twipsToPixels(225), platform::twipsToPixels(4710));
    lblHostsFile->adjustSize();
    lblHostsFile->setTextInteractionFlags(Qt::TextSelectableByMouse);

    cmdRemove = makeButton(frame, "cmdRemove", QStringLiteral("REMOVE"), captionFont());
    placeTwips(cmdRemove, 4545, 4575, 1110, 375);
    cmdRemove->setEnabled(false);
    cmRemoveAll = makeButton(frame, "cmRemoveAll", QStringLiteral("REMOVE ALL"), captionFont());
    placeTwips(cmRemoveAll, 5715, 4575, 1110, 375);

    cmdInformation = platform::makePictureButton(this, "cmdInformation", resources::picture("information"),
                                                 QStringLiteral("Information about this program"),
                                                 QStringLiteral("Information"));
    placeTwips(cmdInformation, 165, 5460, 390, 390);
    cmdCancel = makeButton(this, "cmdCancel", QStringLiteral("CANCEL [ESC]"), captionFont());
    placeTwips(cmdCancel, 4485, 5460, 1335, 405);
    cmdClose = makeButton(this, "cmdClose", QStringLiteral("SAVE/CLOSE"), captionFont());
    placeTwips(cmdClose, 5880, 5460, 1335, 405);

    platform::tieCaption(frame, 1, txtHost);
    platform::tieCaption(frame, 2, txtIP);
    platform::tieCaption(frame, 4, txtComment);
    platform::tieCaption(frame, 3, lstHosts);

    // Tab order as the tab indexes give it; labels and the frame take no focus.
    platform::setTabOrder(
        {txtHost, txtIP, cmdAdd, cmdRemove, cmRemoveAll, cmdCancel, cmdClose, txtComment, lstHosts, cmdInformation});

    // Every action behind the last guard: whatever fails unexpectedly is
    // told, and the window and the edits stay.
    using platform::guarded;
    connect(cmdAdd, &QPushButton::clicked, this, guarded([this] { cmdAdd_Click(); }));
    connect(cmdRemove, &QPushButton::clicked, this, guarded([this] { cmdRemove_Click(); }));
    connect(cmRemoveAll, &QPushButton::clicked, this, guarded([this] { cmRemoveAll_Click(); }));
    connect(cmdClose, &QPushButton::clicked, this, guarded([this] { cmdClose_Click(); }));
    connect(cmdCancel, &QPushButton::clicked, this, guarded([this] { cmdCancel_Click(); }));
    connect(cmdInformation, &QPushButton::clicked, this, guarded([this] { cmdInformation_Click(); }));
    connect(lstHosts, &QTableView::clicked, this,
            [this](const QModelIndex& index) { platform::runGuarded([&] { lstHosts_ItemClick(index.row()); }); });
    connect(lstHosts, &QTableView::doubleClicked, this, guarded([this] { lstHosts_DblClick(); }));
    // REMOVE follows the selected row however it changes: mouse, keys or a rebuild.
    connect(lstHosts->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            guarded([this] { applyRemoveRule(selectedRow()); }));
}

void frmMain::Form_Load()
{
    m_HostsPath = hostsPathSource_();
    lblHostsFile->setText(platform::textFromFile(m_HostsPath));
    lblHostsFile->adjustSize();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    txtHost->setFocus();
    LoadHostsFile();
    RefreshList();
}

void frmMain::LoadHostsFile()
{
    reading_ = fileaccess::readHostsFile(m_HostsPath, cHosts, m_HeaderText, [](std::string_view host) {
        const QString prompt = QStringLiteral("Duplicate hostname found: ") + platform::textFromFile(host)
            + QStringLiteral("\r\nThis entry will be discarded!\r\n\r\n"
                             "Click 'Yes' to not display this notice again, 'No' to keep noticing you.");
        const MessageAnswer answer = platform::showMessage(prompt, MessageButtons::YesNo, MessageIcon::Exclamation,
                                                           QStringLiteral("Error"));
        return answer == MessageAnswer::Yes ? NoticeAnswer::Silence : NoticeAnswer::KeepNoticing;
    });
}

void frmMain::RefreshList()
{
    model_->rebuild(cHosts);
    if (model_->rowCount() > 0)
        lstHosts->selectionModel()->setCurrentIndex(model_->index(0, 0),
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    else
        applyRemoveRule(-1);
}

int frmMain::selectedRow() const
{
    const QModelIndexList selected = lstHosts->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void frmMain::applyRemoveRule(int row)
{
    cmdRemove->setEnabled(row >= 0 && model_->textAt(row) != kLocalhost);
}

void frmMain::lstHosts_ItemClick(int row)
{
    applyRemoveRule(row);
}

void frmMain::lstHosts_DblClick()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    if (model_->textAt(row) == kLocalhost) {
        platform::showMessage(QStringLiteral("Cannot edit 'localhost' entry."), MessageButtons::Ok,
                              MessageIcon::Information, QStringLiteral("Cannot edit entry"));
        return;
    }
    if (!editor_)
        editor_ = std::make_unique<frmEditEntry>(cHosts, m_HasChanged, this);
    editor_->SelectedItem = cHosts.lookUp(model_->keyAt(row));
    editor_->exec();
    // Closed by its title bar: the next opening makes the editor anew.
    if (editor_->closedByTitleBar())
        editor_.reset();
    if (m_HasChanged)
        RefreshList();
}

void frmMain::cmdAdd_Click()
{
    const QString host = platform::trimSpaces(txtHost->text());
    const QString address = platform::trimSpaces(txtIP->text());
    const QString comment = platform::trimSpaces(txtComment->text());
    if (host.isEmpty() || address.isEmpty()) {
        platform::showMessage(QStringLiteral("Please enter both a hostname and an IP address."), MessageButtons::Ok,
                              MessageIcon::Information, QStringLiteral("Error"));
        return;
    }
    const std::string hostBytes = platform::textForFile(host);
    const std::string addressBytes = platform::textForFile(address);
    if (!fitsOnHostsLine(hostBytes, addressBytes)) {
        platform::showMessage(QString::fromLatin1(kHashInEntryMessage), MessageButtons::Ok, MessageIcon::Information,
                              QStringLiteral("Error"));
        return;
    }
    const HostEntryRef entry = HostEntry::create(addressBytes, hostBytes, platform::textForFile(comment));
    if (!cHosts.add(entry)) {
        platform::showMessage(QStringLiteral("This hostname already exists!"), MessageButtons::Ok,
                              MessageIcon::Exclamation, QStringLiteral("Error"));
        return;
    }
    txtHost->setText(QString());
    txtIP->setText(kDefaultAddress);
    txtComment->setText(QString());
    m_HasChanged = true;
    RefreshList();
}

void frmMain::cmdRemove_Click()
{
    const int row = selectedRow();
    // The button is disabled without a selected row; a click that still
    // arrives (from a test or an accessibility tool) does nothing.
    if (row < 0)
        return;
    cHosts.remove(model_->keyAt(row));
    RefreshList();
    applyRemoveRule(selectedRow());
    m_HasChanged = true;
}

void frmMain::cmRemoveAll_Click()
{
    const MessageAnswer answer = platform::showMessage(
        QStringLiteral("Are you sure you want to remove all entries?\r\n"
                       "Note: The hostname 'localhost' cannot be deleted."),
        MessageButtons::YesNo, MessageIcon::Question, QStringLiteral("Remove all?"));
    if (answer != MessageAnswer::Yes)
        return;
    cHosts.reset();
    cHosts.add(HostEntry::create("127.0.0.1", "localhost", "Local loop-back hostname"));
    RefreshList();
    m_HasChanged = true;
}

bool frmMain::SaveHostsFile()
{
    const auto helperRunning = [this](bool running) {
        savingWithHelper_ = running;
        setEnabled(!running);
    };
    hostssave::SaveConsent consent;
    hostssave::HostsFileSave outcome = hostssave::writeHostsFile(m_HostsPath, m_HeaderText, cHosts, reading_, consent,
                                                                 helperRunning);
    for (;;) {
        MessageAnswer answer = MessageAnswer::No;
        if (outcome.result == hostssave::SaveResult::ChangedSinceRead) {
            answer = platform::showMessage(
                QStringLiteral("The hosts file was changed by another program after Tessaly read it.\r\n"
                               "Overwrite those changes with the entries shown here?"),
                MessageButtons::YesNo, MessageIcon::Exclamation, QStringLiteral("Hosts file changed"),
                MessageAnswer::No);
            consent.overwriting = outcome.snapshot;
        } else if (outcome.result == hostssave::SaveResult::PreviousVersionNotKept) {
            answer = platform::showMessage(
                QStringLiteral("Tessaly could not keep the hosts file as it is now as a previous version:\r\n")
                    + platform::textFromFile(outcome.reason)
                    + QStringLiteral("\r\n\r\nWithout it, this save cannot be undone. Save anyway?"),
                MessageButtons::YesNo, MessageIcon::Exclamation, QStringLiteral("Previous version not kept"),
                MessageAnswer::No);
            consent.withoutPreviousVersion = true;
        } else {
            break;
        }
        if (answer != MessageAnswer::Yes)
            return false;
        outcome = hostssave::writeHostsFile(m_HostsPath, m_HeaderText, cHosts, reading_, consent, helperRunning);
    }
    switch (outcome.result) {
    case hostssave::SaveResult::Refused:
        platform::showMessage(QStringLiteral("The hosts file could not be saved:\r\n")
                                  + platform::textFromFile(m_HostsPath) + QStringLiteral("\r\n\r\n")
                                  + platform::textFromFile(outcome.reason),
                              MessageButtons::Ok, MessageIcon::Exclamation, QStringLiteral("Error"));
        return false;
    case hostssave::SaveResult::SavedUnconfirmed:
        // The file holds what was written: saving again is no change by
        // another program.
        reading_.snapshot = outcome.snapshot;
        platform::showMessage(QStringLiteral("The hosts file was saved, but the system could not confirm that the "
                                             "change is on disk (%1). Save again to be sure.")
                                  .arg(platform::textFromFile(outcome.reason)),
                              MessageButtons::Ok, MessageIcon::Exclamation, QStringLiteral("Error"));
        return false;
    case hostssave::SaveResult::Saved:
        reading_.snapshot = outcome.snapshot;
        return true;
    case hostssave::SaveResult::ChangedSinceRead:
    case hostssave::SaveResult::PreviousVersionNotKept:
        break;
    }
    return false;
}

void frmMain::cmdClose_Click()
{
    if (SaveHostsFile())
        endProgram();
}

bool frmMain::confirmLeaving()
{
    if (!m_HasChanged)
        return true;
    const MessageAnswer answer = platform::showMessage(
        QStringLiteral("You have made changes to the configuration.\r\nSave changes before quitting?"),
        MessageButtons::YesNoCancel, MessageIcon::Question, QStringLiteral("Save changes?"));
    switch (answer) {
    case MessageAnswer::Cancel:
        return false;
    case MessageAnswer::Yes:
        return SaveHostsFile();
    default:
        return true;
    }
}

void frmMain::cmdCancel_Click()
{
    if (confirmLeaving())
        endProgram();
}

void frmMain::cmdInformation_Click()
{
    // The contact line also says where a regretted save can be undone from.
    const previousversions::FolderLocation versions = previousversions::versionsFolder();
    const QString kept = versions.problem.empty()
        ? QStringLiteral("Before every save the file as it was is kept in %1; tessaly-restore "
                         "puts it back.")
              .arg(QDir::toNativeSeparators(platform::pathText(versions.path)))
        : QStringLiteral("Previous versions of the file cannot be kept: %1.")
              .arg(platform::textFromFile(versions.problem));
    platform::showMessage(QStringLiteral("Tessaly %1, an editor for the hosts file, built with Qt %2.\r\n\r\n"
                                         "%3 Questions and bug reports: see the README that comes with Tessaly.")
                              .arg(QStringLiteral(TESSALY_VERSION), QString::fromLatin1(qVersion()), kept),
                          MessageButtons::Ok, MessageIcon::Information, QStringLiteral("Tessaly"));
}

void frmMain::Form_KeyUp(int KeyCode, int Shift)
{
    if (KeyCode == platform::KeyEscape)
        cmdCancel_Click();
    else if (KeyCode == platform::KeyEnter && (Shift & platform::CtrlMask))
        cmdClose_Click();
}

void frmMain::endProgram()
{
    if (ending_)
        return;
    ending_ = true;
    emit programEnding();
    platform::endProgram();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    // Enter on the selected row opens it as a double-click does, so that the
    // editor can be reached from the keyboard. Ctrl+Enter stays SAVE/CLOSE.
    if (watched == lstHosts && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !key->isAutoRepeat()
            && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier))) {
            platform::runGuarded([this] { lstHosts_DblClick(); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    // The title-bar close leaves as CANCEL [ESC] does; not while the save
    // helper is writing the file.
    if (savingWithHelper_) {
        event->ignore();
        return;
    }
    event->ignore();
    platform::runGuarded([&] {
        if (ending_ || confirmLeaving()) {
            event->accept();
            endProgram();
        }
    });
}
