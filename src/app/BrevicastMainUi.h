#pragma once

#include <QGroupBox>
#include <QList>

class QAbstractButton;
class QPlainTextEdit;
class QAction;
class QButtonGroup;
class QRadioButton;

namespace bv::app {

// A captioned group of exclusive choices addressed by position, -1 for none.
class TRadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

    int itemIndex() const;
    void setItemIndex(int index);
    QRadioButton* button(int index) const { return m_buttons.value(index); }
    int count() const { return int(m_buttons.size()); }
    // Places a control of the caller's after the choices, on their line.
    void addTrailingWidget(QWidget* widget);

signals:
    void itemIndexChanged(int index);

private:
    QButtonGroup* m_group;
    QList<QRadioButton*> m_buttons;
};

// A button that runs an action under a caption of its own, and follows the
// action's enabled state.
void bindToAction(QAbstractButton* button, QAction* action);

// An editor's text exactly as typed, lines separated by "\n".
QString editorText(const QPlainTextEdit* editor);
// The same as lines; an empty editor has none.
QStringList editorLines(const QPlainTextEdit* editor);

} // namespace bv::app
