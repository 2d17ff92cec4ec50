#include "app/AboutDialog.h"

#include "app/AboutReport.h"
#include "link/ParamBatch.h"
#include "ui/Prompts.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QUrl>
#include <QVBoxLayout>

#ifndef NEMOLA_VERSION
#define NEMOLA_VERSION "0.0.0"
#endif

namespace {

const QString kProduct = QStringLiteral("Nemola-M");

}  // namespace

QString CAboutDialog::BuildVersionText()
{
    return kProduct + QStringLiteral(" version ") + QStringLiteral(NEMOLA_VERSION) + QStringLiteral("\nBuild: ") +
           QStringLiteral(__DATE__) + QStringLiteral(", ") + QStringLiteral(__TIME__) +
           QStringLiteral("\nCopyright (C) 2026 the Nemola-M developers");
}

CAboutDialog::CAboutDialog(CReceiverHolder* receiver, QWidget* parent)
    : QDialog(parent),
      m_version(new QLabel(BuildVersionText(), this)),
      m_link(new QLabel(this)),
      m_url(AboutLinkUrl(QLatin1String(kWebAddress))),
      m_opener([](const QString& url) { return QDesktopServices::openUrl(QUrl(url)); })
{
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QStringLiteral("About ") + kProduct);
    m_version->setObjectName(QStringLiteral("versionText"));
    m_link->setObjectName(QStringLiteral("webLink"));
    // The link is handled here rather than by the label, so that a failure can be reported.
    m_link->setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(m_url.toHtmlEscaped(), QLatin1String(kWebAddress)));
    m_link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    m_link->setOpenExternalLinks(false);
    connect(m_link, &QLabel::linkActivated, this, [this] { OpenLink(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_version);
    layout->addWidget(m_link);

    if (receiver) {
        CParamBatch batch(*receiver);
        if (batch.Run(AboutReportBatch())) {
            m_report = BuildAboutReport(batch);
        }
        m_reportView = new QPlainTextEdit(this);
        m_reportView->setObjectName(QStringLiteral("receiverReport"));
        m_reportView->setReadOnly(true);
        m_reportView->setLineWrapMode(QPlainTextEdit::NoWrap);
        // The editor keeps its own line ends; a bare "\r" would show as a stray character.
        m_reportView->setPlainText(QString(m_report).replace(QLatin1String("\r\n"), QLatin1String("\n")));
        layout->addWidget(m_reportView, 1);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

QString CAboutDialog::VersionText() const
{
    return m_version->text();
}

void CAboutDialog::OpenLink()
{
    if (!m_opener || !m_opener(m_url)) {
        ShowMessage(QStringLiteral("Unable to open hyperlink!"), QStringLiteral("ERROR"), PromptIcon::Error);
    }
}
