#pragma once

#include <string>

// The session window's title, settings name and the notices its toolbar shows.
namespace tavoro::ui::text {

// The name the session window's frame is saved under between sessions.
inline const std::string kSessionFrameName = "TavoroSessionWindow";
inline const std::string kSharedFolderNotice = "共享文件夹需 macFUSE，建议用「传输文件」浏览/收发";

inline std::string sessionWindowTitle(const std::string& peerName) { return "Tavoro — " + peerName; }

// After the keyboard-capture toggle was switched to `on`.
inline std::string keyboardCaptureNotice(bool on) { return on ? "已接管键盘 — 焦点在远端画面" : "已退出接管"; }

// The control button asks for control while this side does not hold it, else gives it back.
inline std::string controlButtonNotice(bool hadControl) { return hadControl ? "已释放控制权" : "已请求控制…"; }

// After the audio toggle, with the new state.
inline std::string audioNotice(bool muted) { return muted ? "远端声音已静音" : "远端声音已开启"; }

} // namespace tavoro::ui::text
