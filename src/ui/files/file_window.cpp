#include "ui/files/file_window.h"

#include "files/remote_paths.h"
#include "ui/files/entry_list.h"
#include "ui/files/transfer_list.h"
#include "ui/logic/file_window_texts.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace tavoro::ui {
namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

QPushButton* button(const char* text, const char* objectName)
{
    auto* pushButton = new QPushButton(QString::fromUtf8(text));
    pushButton->setObjectName(objectName);
    return pushButton;
}

QLabel* pathLabel(const char* objectName)
{
    auto* label = new QLabel;
    label->setObjectName(objectName);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

// A name the peer can take as one item of the current folder.
bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

} // namespace

FileWindow::FileWindow(app::RemoteController& controller, const std::string& home, FileWindowPrompts prompts,
    QWidget* parent)
    : QWidget(parent), controller_(controller), prompts_(std::move(prompts)), local_(home)
{
    setWindowTitle(qs(text::kFileWindowTitle));
    resize(960, 640);
    auto* panes = new QHBoxLayout;
    panes->addWidget(makeLocalPane(), 1);
    panes->addWidget(makeMoveButtons());
    panes->addWidget(makeRemotePane(), 1);
    auto* top = new QWidget;
    top->setLayout(panes);

    auto* transfers = new TransferList(controller_.transfers().jobs());
    transfers->setObjectName("transfers");
    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(top);
    splitter->addWidget(transfers);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    auto* column = new QVBoxLayout(this);
    column->addWidget(splitter);

    localPathSubscription_ = local_.path.subscribe([this](const std::string&) { showLocal(); });
    localEntriesSubscription_ = local_.entries.subscribe([this](const auto&) { showLocal(); });
    browserSubscription_ = controller_.remoteBrowser.subscribe(
        [this](const std::shared_ptr<files::RemoteBrowser>& browser) { followRemoteBrowser(browser); });
    sessionWatch_.emplace(controller_, [this] { showRemote(); });
    showLocal();
    followRemoteBrowser(controller_.remoteBrowser.get());
}

FileWindow::~FileWindow() = default;

QWidget* FileWindow::makeLocalPane()
{
    auto* pane = new QGroupBox(qs(text::kLocalPaneTitle));
    auto* column = new QVBoxLayout(pane);
    auto* header = new QHBoxLayout;
    localPath_ = pathLabel("localPath");
    auto* up = button("上一级", "localUp");
    auto* refresh = button("刷新", "localRefresh");
    connect(up, &QPushButton::clicked, this, [this] { local_.up(); });
    connect(refresh, &QPushButton::clicked, this, [this] { local_.reload(); });
    header->addWidget(localPath_, 1);
    header->addWidget(up);
    header->addWidget(refresh);
    column->addLayout(header);

    localList_ = new EntryList([this](const files::FsEntry& entry) { local_.open(entry); });
    localList_->setObjectName("localList");
    column->addWidget(localList_);
    return pane;
}

QWidget* FileWindow::makeRemotePane()
{
    auto* pane = new QGroupBox(qs(text::kRemotePaneTitle));
    auto* column = new QVBoxLayout(pane);
    auto* header = new QHBoxLayout;
    remotePath_ = pathLabel("remotePath");
    auto* up = remoteButton("上一级", "remoteUp");
    auto* refresh = remoteButton("刷新", "remoteRefresh");
    auto* newFolder = remoteButton("新建文件夹", "newFolder");
    auto* remove = remoteButton("删除", "delete");
    connect(up, &QPushButton::clicked, this, [this] {
        if (auto remote = liveRemote()) {
            remote->up();
        }
    });
    connect(refresh, &QPushButton::clicked, this, [this] {
        if (auto remote = liveRemote()) {
            remote->list(remote->path.get());
        }
    });
    connect(newFolder, &QPushButton::clicked, this, [this] { makeFolder(); });
    connect(remove, &QPushButton::clicked, this, [this] { deleteSelected(); });
    header->addWidget(remotePath_, 1);
    for (auto* action : {up, refresh, newFolder, remove}) {
        header->addWidget(action);
    }
    column->addLayout(header);

    remoteList_ = new EntryList([this](const files::FsEntry& entry) { enterRemote(entry); });
    remoteList_->setObjectName("remoteList");
    remoteNotice_ = new QLabel;
    remoteNotice_->setObjectName("remoteNotice");
    remoteNotice_->setAlignment(Qt::AlignCenter);
    remoteNotice_->setWordWrap(true);
    remoteStack_ = new QStackedWidget;
    remoteStack_->setObjectName("remoteStack");
    remoteStack_->addWidget(remoteList_);
    remoteStack_->addWidget(remoteNotice_);
    column->addWidget(remoteStack_);
    return pane;
}

QWidget* FileWindow::makeMoveButtons()
{
    auto* buttons = new QWidget;
    auto* column = new QVBoxLayout(buttons);
    column->addStretch();
    auto* upload = remoteButton("上传 →", "upload");
    auto* download = remoteButton("← 下载", "download");
    connect(upload, &QPushButton::clicked, this, [this] { this->upload(); });
    connect(download, &QPushButton::clicked, this, [this] { this->download(); });
    column->addWidget(upload);
    column->addWidget(download);
    column->addStretch();
    return buttons;
}

// A button that acts on the peer: enabled only while the remote pane shows the session's peer.
QPushButton* FileWindow::remoteButton(const char* text, const char* objectName)
{
    auto* action = button(text, objectName);
    remoteActions_.push_back(action);
    return action;
}

void FileWindow::followRemoteBrowser(std::shared_ptr<files::RemoteBrowser> browser)
{
    remotePathSubscription_.reset();
    remoteEntriesSubscription_.reset();
    remoteLoadingSubscription_.reset();
    remote_ = std::move(browser);
    if (remote_) {
        remotePathSubscription_ = remote_->path.subscribe([this](const std::string&) { showRemote(); });
        remoteEntriesSubscription_ = remote_->entries.subscribe([this](const auto&) { showRemote(); });
        remoteLoadingSubscription_ = remote_->loading.subscribe([this](bool) { showRemote(); });
    }
    showRemote();
}

void FileWindow::showLocal()
{
    localPath_->setText(qs(local_.path.get()));
    localList_->setEntries(local_.entries.get());
}

void FileWindow::showRemote()
{
    const auto remote = liveRemote();
    for (auto* action : remoteActions_) {
        action->setEnabled(remote != nullptr);
    }
    const auto entries = remote ? remote->entries.get() : std::vector<files::FsEntry>{};
    remotePath_->setText(remote ? qs(text::remotePathText(remote->path.get())) : QString());
    remoteList_->setEntries(entries);
    const auto notice = text::remotePaneNotice(remote != nullptr, remote && remote->loading.get(), entries.empty());
    remoteNotice_->setText(notice ? qs(*notice) : QString());
    remoteStack_->setCurrentWidget(notice ? static_cast<QWidget*>(remoteNotice_) : remoteList_);
}

std::shared_ptr<files::RemoteBrowser> FileWindow::liveRemote() const
{
    const auto peer = sessionPeer(controller_);
    return remote_ && peer && peer->peerId == remote_->peerId() ? remote_ : nullptr;
}

void FileWindow::enterRemote(const files::FsEntry& entry)
{
    if (auto remote = liveRemote(); remote && entry.dir) {
        remote->list(files::joinRemotePath(remote->path.get(), entry.name));
    }
}

// Folders are not sent: a transfer carries one file.
void FileWindow::upload()
{
    const auto remote = liveRemote();
    if (!remote) {
        return;
    }
    for (const auto& entry : localList_->selectedEntries()) {
        if (!entry.dir) {
            controller_.transfers().send(std::filesystem::path(local_.path.get()) / entry.name, remote->path.get(),
                remote->peerId(), remote->callId());
        }
    }
}

void FileWindow::download()
{
    const auto remote = liveRemote();
    auto selected = remoteList_->selectedEntries();
    std::erase_if(selected, [](const files::FsEntry& entry) { return entry.dir; });
    if (!remote || selected.empty()) {
        return;
    }
    const auto into = local_.path.get();
    controller_.allowDownloadsInto(into);
    for (const auto& entry : selected) {
        remote->download(entry, into);
    }
}

// The names belong to the folder shown when the user was asked: if another listing replaced it
// meanwhile, nothing is deleted.
void FileWindow::deleteSelected()
{
    const auto remote = liveRemote();
    const auto selected = remoteList_->selectedEntries();
    if (!remote || selected.empty()) {
        return;
    }
    std::vector<std::string> names;
    for (const auto& entry : selected) {
        names.push_back(entry.name);
    }
    const bool includesFolder = std::ranges::any_of(selected, [](const files::FsEntry& entry) { return entry.dir; });
    const auto folder = remote->path.get();
    if (!prompts_.confirmDelete(this, qs(text::deleteQuestion(names, includesFolder)))) {
        return;
    }
    if (liveRemote() == remote && remote->path.get() == folder) {
        remote->remove(names);
    }
}

void FileWindow::makeFolder()
{
    const auto remote = liveRemote();
    if (!remote) {
        return;
    }
    const auto folder = remote->path.get();
    const auto answer = prompts_.askFolderName(this);
    if (!answer) {
        return;
    }
    const auto name = answer->trimmed().toStdString();
    if (isPlainName(name) && liveRemote() == remote && remote->path.get() == folder) {
        remote->mkdir(name);
    }
}

} // namespace tavoro::ui
