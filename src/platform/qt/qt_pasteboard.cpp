#include "platform/qt/qt_pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace tavoro::platform::qt {

QtPasteboard::QtPasteboard()
{
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, &context_, [this] { readClipboard(); });
    readClipboard();
}

QtPasteboard::~QtPasteboard() { gate_.close(); }

void QtPasteboard::setText(const std::string& text)
{
    remember(text);
    gate_.post([text] { QGuiApplication::clipboard()->setText(QString::fromStdString(text)); });
}

std::string QtPasteboard::text() const
{
    std::lock_guard lock(mutex_);
    return text_;
}

void QtPasteboard::remember(std::string text)
{
    std::lock_guard lock(mutex_);
    text_ = std::move(text);
}

void QtPasteboard::readClipboard() { remember(QGuiApplication::clipboard()->text().toStdString()); }

} // namespace tavoro::platform::qt
