#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The file-transfer window's texts that follow the state of its panes.
namespace tavoro::ui::text {

inline const std::string kFileWindowTitle = "文件传输";
inline const std::string kLocalPaneTitle = "本机";
inline const std::string kRemotePaneTitle = "远端（被控电脑）";
inline const std::string kRemoteLoading = "正在读取对方文件…";
inline const std::string kRemoteEmpty = "（此目录为空，或对方未响应）";
inline const std::string kRemoteWithoutSession = "没有进行中的会话，无法浏览对方的文件";
inline const std::string kNewFolderTitle = "新建文件夹";
inline const std::string kNewFolderPrompt = "文件夹名称：";
inline const std::string kCreate = "创建";
inline const std::string kCancel = "取消";
inline const std::string kDelete = "删除";
inline const std::string kDeleteTitle = "删除远端文件";

// What the remote pane shows instead of its list, if anything: no session to browse, or an empty
// listing that is still awaited or came back empty. A listing already shown stays while another loads.
inline std::optional<std::string> remotePaneNotice(bool hasSessionPeer, bool loading, bool empty)
{
    if (!hasSessionPeer) {
        return kRemoteWithoutSession;
    }
    if (!empty) {
        return std::nullopt;
    }
    return loading ? kRemoteLoading : kRemoteEmpty;
}

// The remote path row; the empty path is the peer's root.
inline std::string remotePathText(const std::string& path) { return path.empty() ? "（根目录）" : path; }

// A list row's name: folders carry a folder symbol.
inline std::string entryName(const std::string& name, bool dir) { return dir ? "📁 " + name : name; }

// A transfer row's name, after the direction symbol.
inline std::string transferName(const std::string& name, bool isUpload) { return (isUpload ? "⬆ " : "⬇ ") + name; }

// The question asked before items of the peer's current folder are deleted: it names them, and warns
// that a folder goes with everything in it.
inline std::string deleteQuestion(const std::vector<std::string>& names, bool includesFolder)
{
    std::string question;
    if (names.size() == 1) {
        question = "确定删除对方电脑上的「" + names.front() + "」吗？";
    } else {
        std::string list;
        for (const auto& name : names) {
            list += (list.empty() ? "「" : "、「") + name + "」";
        }
        question = "确定删除对方电脑上的 " + std::to_string(names.size()) + " 项：" + list + " 吗？";
    }
    if (includesFolder) {
        question += "\n文件夹会连同其中的全部内容一起删除。";
    }
    return question + "\n此操作无法撤销。";
}

} // namespace tavoro::ui::text
