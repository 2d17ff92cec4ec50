#include "app/LegendDialog.h"

#include "app/StatusLegend.h"
#include "ui/WindowFit.h"

#include <QDialogButtonBox>
#include <QTextBrowser>
#include <QVBoxLayout>

CLegendDialog::CLegendDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("statusLegend"));
    setWindowTitle(QStringLiteral("Status Legend"));
    auto* text = new QTextBrowser(this);
    text->setObjectName(QStringLiteral("legendText"));
    text->setHtml(StatusLegendText());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text, 1);
    layout->addWidget(buttons);

    FitToScreen(this, QSize(460, 600));
}
