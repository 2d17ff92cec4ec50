#include "ui/WaitBox.h"

#include "ui/WindowFit.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

CWaitBox::CWaitBox(const QString& text, QWidget* parent)
    : QFrame(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_label(new QLabel(text, this))
{
    setObjectName(QStringLiteral("waitBox"));
    setWindowTitle(QStringLiteral("Nemola-M"));
    setWindowModality(Qt::NonModal);
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    setFrameShape(QFrame::Box);
    m_label->setObjectName(QStringLiteral("waitText"));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    // Narrow enough for the handheld's portrait screen whatever the text.
    const int maxWidth = qMin(int(kMaxWidth), RoomFor(this).width());
    setMaximumWidth(maxWidth);
    m_label->setMaximumWidth(maxWidth);
    adjustSize();
    if (parent) {
        const QPoint centre = parent->mapToGlobal(parent->rect().center());
        move(centre - rect().center());
    }
    FitToScreen(this, size());
    show();
    raise();
    repaint();
    QCoreApplication::processEvents();
}

void CWaitBox::SetText(const QString& text)
{
    m_label->setText(text);
    adjustSize();
    repaint();
    QCoreApplication::processEvents();
}

QString CWaitBox::Text() const
{
    return m_label->text();
}

void CWaitBox::Close()
{
    hide();
    QCoreApplication::processEvents();
}
