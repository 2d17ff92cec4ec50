#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

class CSteadyLabel;
class QGridLayout;
class QLabel;
class QWidget;

// A multi-line status text ("Lat: ...\nLon: ...\nAlt: ...") shown as rows of key and value in a grid, the values
// in one fixed-width column. Each line goes to the row of its key, so the rows keep their order whatever order a
// text lists them in, and the text itself is kept as it came.
class CColumnField : public QObject
{
    Q_OBJECT

public:
    // One row per key ("Lat:", "ETT:", ...), from `firstRow` of `grid`; the labels are children of `parent`. The
    // values keep the width of `widest` (or of the widest value shown), so that new values do not move the page.
    CColumnField(const QString& name, const QStringList& keys, QGridLayout* grid, int firstRow, QWidget* parent,
                 const QString& widest = QString());

    void SetText(const QString& text);
    QString Text() const { return m_text; }
    // The value shown in a row ("" when the text has no line with that key).
    QString Value(int row) const;
    QLabel* ValueLabel(int row) const;

private:
    QStringList m_keys;
    std::vector<CSteadyLabel*> m_values;
    QString m_text;
};
