#include "accessibilita.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLineEdit>

namespace {

class SelettoreAccessibile : public QAccessibleWidget
{
public:
    explicit SelettoreAccessibile(QComboBox *selettore)
        : QAccessibleWidget(selettore, QAccessible::ComboBox)
    { }

    QString text(QAccessible::Text tipo) const override
    {
        if (tipo == QAccessible::Value)
            return selettore()->currentText();
        return QAccessibleWidget::text(tipo);
    }

    // The list of choices, and the text being edited when the selector takes typing.
    int childCount() const override { return selettore()->isEditable() ? 2 : 1; }

    QAccessibleInterface *child(int indice) const override
    {
        if (indice == 0)
            return QAccessible::queryAccessibleInterface(selettore()->view());
        if (indice == 1 && selettore()->isEditable())
            return QAccessible::queryAccessibleInterface(selettore()->lineEdit());
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface *figlio) const override
    {
        if (figlio->object() == selettore()->view())
            return 0;
        if (selettore()->isEditable() && figlio->object() == selettore()->lineEdit())
            return 1;
        return -1;
    }

    // The selector is the focus proxy of its text: the text has the focus a reader follows.
    QAccessibleInterface *focusChild() const override
    {
        return selettore()->isEditable() ? child(1) : nullptr;
    }

    QAccessible::State state() const override
    {
        QAccessible::State stato = QAccessibleWidget::state();
        stato.expandable = true;
        stato.expanded = selettore()->view()->isVisible();
        stato.editable = selettore()->isEditable();
        return stato;
    }

    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }

    QString localizedActionDescription(const QString &azione) const override
    {
        return actionNames().contains(azione) ? QStringLiteral("Apre l'elenco delle scelte")
                                              : QString();
    }

    void doAction(const QString &azione) override
    {
        if (!actionNames().contains(azione))
            return;
        if (selettore()->view()->isVisible())
            selettore()->hidePopup();
        else
            selettore()->showPopup();
    }

    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    QComboBox *selettore() const { return static_cast<QComboBox *>(widget()); }
};

// A widget made straight from QWidget: a window when it stands alone (Traffico, Ripeti), a
// part of one otherwise. Asked each time, since a widget may be made first and placed later.
class ParteAccessibile : public QAccessibleWidget
{
public:
    using QAccessibleWidget::QAccessibleWidget;

    QAccessible::Role role() const override
    {
        return widget()->isWindow() && widget()->windowType() == Qt::Window ? QAccessible::Window
                                                                            : QAccessible::Client;
    }
};

// Asked once for each class of an object, from the most derived up: each case answers at the
// first question, before Qt's own interfaces are reached.
QAccessibleInterface *interfaccia(const QString &classe, QObject *oggetto)
{
    if (!oggetto || classe != QLatin1String(oggetto->metaObject()->className()))
        return nullptr;
    if (auto *selettore = qobject_cast<QComboBox *>(oggetto))
        return new SelettoreAccessibile(selettore);
    // Qt's own widgets (QMenuBar, QLineEdit ...) keep the interfaces Qt gives them.
    if (oggetto->metaObject()->superClass() == &QWidget::staticMetaObject
        && !classe.startsWith(u'Q'))
        return new ParteAccessibile(static_cast<QWidget *>(oggetto));
    return nullptr;
}

} // namespace

void installaAccessibilita()
{
    static const bool installata = [] {
        QAccessible::installFactory(interfaccia);
        return true;
    }();
    Q_UNUSED(installata);
}
