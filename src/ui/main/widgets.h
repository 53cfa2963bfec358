#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>

#include <string>

// Small helpers the main window's parts share.
namespace tavoro::ui {

inline QString qs(const std::string& text) { return QString::fromStdString(text); }

inline constexpr const char* kSuccessColour = "#2e7d32";
inline constexpr const char* kWarningColour = "#ef6c00";
inline constexpr const char* kErrorColour = "#c62828";

inline QPushButton* namedButton(const std::string& text, const QString& objectName)
{
    auto* button = new QPushButton(qs(text));
    button->setObjectName(objectName);
    return button;
}

inline QLabel* namedLabel(const QString& objectName, const std::string& text = {})
{
    auto* label = new QLabel(qs(text));
    label->setObjectName(objectName);
    return label;
}

// Selectable, bold text at twice the usual size: the ID and the password.
inline QLabel* largeLabel(const QString& objectName)
{
    auto* label = namedLabel(objectName);
    QFont font = label->font();
    font.setPointSize(font.pointSize() * 2);
    font.setBold(true);
    label->setFont(font);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace tavoro::ui
