#include "app_qt/info_dialog_qt.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app_qt/catalogue_qt.h"
#include "base/text.h"
#include "channel/service.h"

CInfoDialogQt::CInfoDialogQt() : m_versionLabel(new QLabel(this)) {
    setWindowTitle(CatalogueText(MessageId::AboutTitle));
    auto* layout = new QVBoxLayout(this);
    m_versionLabel->setAlignment(Qt::AlignCenter);
    m_versionLabel->setTextFormat(Qt::PlainText);  // the service's words, never markup
    m_versionLabel->setObjectName(QStringLiteral("version"));
    layout->addWidget(m_versionLabel);
    auto* text = new QLabel(CatalogueText(MessageId::AboutText), this);
    text->setAlignment(Qt::AlignCenter);
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setCenterButtons(true);
    TranslateButtons(*buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

void CInfoDialogQt::ShowModal() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    if (m_version.empty()) {
        // Synchronous: the dialog appears once the service has answered, or
        // once the exchange has given up after its bounded wait.
        m_version = CService::GetInstance()->GetInstalledVersionText();
    }
    if (!m_version.empty()) {
        const std::u16string version = DecodeExternalText(m_version, nullptr);
        m_versionLabel->setText(
            CatalogueText(MessageId::AboutVersion)
                .replace(QLatin1String("%s"), QString::fromStdU16String(version)));
        m_versionLabel->show();
    } else {
        m_versionLabel->hide();
    }
    exec();
}
