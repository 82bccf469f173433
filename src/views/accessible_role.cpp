#include "views/accessible_role.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace {

constexpr char roleProperty[] = "tornelAccessibleRole";

QAccessibleInterface *interfaceWithOwnRole(const QString &, QObject *object)
{
    const QVariant role = object->property(roleProperty);
    if (!role.isValid() || !object->isWidgetType())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Role(role.toInt()));
}

} // namespace

void setAccessibleRole(QWidget *widget, QAccessible::Role role)
{
    [[maybe_unused]] static const bool installed = (QAccessible::installFactory(&interfaceWithOwnRole), true);
    widget->setProperty(roleProperty, int(role));
    // Qt makes a widget's interface, once, as soon as anything about it
    // changes, even inside its constructor (a label's text): one made before
    // the role was given is dropped, to be made again with it.
    QAccessibleInterface *made = QAccessible::queryAccessibleInterface(widget);
    if (made && made->role() != role)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}
