#include "ui/main/permission_banner.h"

#include "host/host_permissions.h"
#include "ui/logic/main_window_texts.h"
#include "ui/main/widgets.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace tavoro::ui {
namespace {

// A status line as two lines, the condition and then the remedy: the banner stays narrow without
// word wrap, whose height the window's layout cannot work out ahead of its width.
QString conditionAndRemedy(std::string_view status)
{
    constexpr std::string_view kColon = "：";
    const auto colon = status.find(kColon);
    if (colon == std::string_view::npos) {
        return qs(std::string(status));
    }
    const auto end = colon + kColon.size();
    return qs(std::string(status.substr(0, end)) + "\n" + std::string(status.substr(end)));
}

} // namespace

PermissionBanner::PermissionBanner(platform::Permissions& permissions, QWidget* parent)
    : QWidget(parent), permissions_(permissions)
{
    setObjectName("permissionBanner");
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet("#permissionBanner { background: #fff3e0; border-radius: 6px; }");
    warnings_ = namedLabel("permissionWarnings");
    help_ = namedLabel("permissionHelp");
    help_->hide();
    auto* screen = namedButton("屏幕录制", "screenHelp");
    auto* input = namedButton("键盘鼠标控制", "inputHelp");
    connect(screen, &QPushButton::clicked, this, [this] { explain(text::kScreenCaptureHelp); });
    connect(input, &QPushButton::clicked, this, [this] { explain(text::kInputHelp); });

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(screen);
    buttons->addWidget(input);
    buttons->addStretch(1);
    auto* column = new QVBoxLayout(this);
    column->addWidget(warnings_);
    column->addLayout(buttons);
    column->addWidget(help_);
    recheck();
}

void PermissionBanner::recheck()
{
    QStringList warnings;
    if (!permissions_.screenCaptureAllowed()) {
        warnings << conditionAndRemedy(host::noScreenCaptureStatus);
    }
    if (!permissions_.inputInjectionAllowed()) {
        warnings << conditionAndRemedy(host::noInputInjectionStatus);
    }
    warnings_->setText(warnings.join('\n'));
    setVisible(!warnings.isEmpty());
}

void PermissionBanner::explain(const std::string& help)
{
    help_->setText(qs(help));
    help_->show();
    recheck();
}

} // namespace tavoro::ui
