#pragma once

#include "control/view_state.h"

#include <array>
#include <string>

// The session window's title, settings name, menus and the notices its toolbar shows.
namespace tavoro::ui::text {

// The name the session window's frame is saved under between sessions.
inline const std::string kSessionFrameName = "TavoroSessionWindow";
inline const std::string kSharedFolderNotice = "共享文件夹需 FUSE，建议用「传输文件」浏览/收发";

inline std::string sessionWindowTitle(const std::string& peerName) { return "Tavoro — " + peerName; }

// After the keyboard-capture toggle was switched to `on`.
inline std::string keyboardCaptureNotice(bool on) { return on ? "已接管键盘 — 焦点在远端画面" : "已退出接管"; }

// The control button asks for control while this side does not hold it, else gives it back.
inline std::string controlButtonNotice(bool hadControl) { return hadControl ? "已释放控制权" : "已请求控制…"; }

// After the audio toggle, with the new state.
inline std::string audioNotice(bool muted) { return muted ? "远端声音已静音" : "远端声音已开启"; }

// The display menu: each entry sets the display mode and whether the window fills the screen.
struct DisplayChoice {
    const char* label;
    control::DisplayMode mode;
    bool fullScreen;
};
inline constexpr std::array<DisplayChoice, 5> kDisplayChoices{{
    {"全屏（保持比例）", control::DisplayMode::aspect, true},
    {"全屏拉伸（填满屏幕）", control::DisplayMode::stretch, true},
    {"窗口 · 原始比例", control::DisplayMode::aspect, false},
    {"窗口 · 平铺（拉伸填满）", control::DisplayMode::stretch, false},
    {"窗口 · 被控原始大小（1:1）", control::DisplayMode::native, false},
}};

// The quality menu offers mode 1 (quality first) and mode 2 (speed first); the entry of the mode last
// sent is ticked.
inline constexpr std::array<int, 2> kQualityModes{1, 2};
inline std::string qualityEntry(int mode, int current)
{
    return (mode == current ? "✓ " : "　 ") + std::string(mode == 1 ? "🎨 质量优先（更清晰）" : "⚡ 速度优先（更流畅）");
}
inline std::string qualityNotice(int mode) { return mode == 1 ? "画质：质量优先" : "画质：速度优先"; }

} // namespace tavoro::ui::text
