#include "app/AboutDialog.h"

#include "app/AboutReport.h"
#include "link/ParamBatch.h"
#include "ui/Prompts.h"
#include "ui/WindowFit.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStyle>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

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
        m_reportView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        m_reportView->setPlainText(AlignedAboutReport(m_report));
        layout->addWidget(m_reportView, 1);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    FitToReport();
}

void CAboutDialog::FitToReport()
{
    if (!m_reportView) {
        FitToScreen(this);
        return;
    }
    // Wide and tall enough for the whole report, so that no value is cut and no scroll bar shows when the screen
    // has the room; on a handheld the box takes the screen and the report scrolls.
    const QFontMetrics metrics(m_reportView->font());
    int columns = 0;
    const QStringList lines = m_reportView->toPlainText().split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        columns = std::max(columns, int(metrics.horizontalAdvance(line)));
    }
    const int frame = 2 * m_reportView->frameWidth() + 2 * int(m_reportView->document()->documentMargin()) + 4;
    // A line and a character to spare: the editor's own spacing differs a little from the font's.
    const int height = int(lines.size() + 1) * metrics.lineSpacing() + frame;
    columns += metrics.averageCharWidth();
    const QMargins margins = layout()->contentsMargins();
    QSize wanted(columns + frame + margins.left() + margins.right(),
                 sizeHint().height() - m_reportView->sizeHint().height() + height);
    if (wanted.height() > RoomFor(this).height()) {
        // The report scrolls up and down; its bar must not cover the values' ends.
        wanted.rwidth() += style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    }
    FitToScreen(this, wanted.expandedTo(sizeHint().boundedTo(wanted)));
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
