#include "ui/main/about_box.h"

#include "signaling/signaling.h"
#include "ui/logic/main_window_texts.h"
#include "ui/main/widgets.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>
#include <QtGlobal>

namespace tavoro::ui {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName("aboutBox");
    setWindowTitle(qs(text::kAboutTitle));
    auto* version = largeLabel("aboutVersion");
    version->setText(qs(text::aboutVersion(signaling::Signaling::kVersion)));
    auto* platform = namedLabel("aboutPlatform", text::platformLine(qVersion()));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);

    auto* column = new QVBoxLayout(this);
    column->addWidget(version);
    column->addWidget(platform);
    column->addWidget(buttons);
}

} // namespace tavoro::ui
