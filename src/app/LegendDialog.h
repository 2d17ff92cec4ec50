#pragma once

#include <QDialog>

// "Status Legend" of the Help menu: what the solution colours, the satellite columns and their marks mean. Not
// modal, so that it can stay open beside the live view; sized to fit the screen, its text scrolls when it must.
class CLegendDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CLegendDialog(QWidget* parent = nullptr);
};
