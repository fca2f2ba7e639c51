#pragma once
// A window's accessibility tree as assistive technology reads it: through Qt's
// accessibility interfaces, child by child from the window, never through the widgets.
#include <QAccessible>
#include <QAccessibleInterface>
#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

namespace pmx::test {

struct AccessibleNode {
    QString where; // the object names from the window down, for the failure messages
    QAccessible::Role role = QAccessible::NoRole;
    QString name, description, value;
    QAccessible::State state;
    QObject* object = nullptr;
    QAccessibleInterface* iface = nullptr;
};

// Roles an operator acts on (or reads a changing state from) and that a screen reader
// must be able to name: buttons, boxes, fields, lists and tables, tabs, menu commands
// and the progress of a long task. The items inside lists and tables are their rows'
// data and take their names from their text.
inline bool isControl(QAccessible::Role role) {
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::SpinBox:
    case QAccessible::Slider:
    case QAccessible::Dial:
    case QAccessible::PageTab:
    case QAccessible::MenuItem:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::ButtonDropGrid:
    case QAccessible::Link:
    case QAccessible::HotkeyField:
    case QAccessible::Table:
    case QAccessible::Tree:
    case QAccessible::List:
    case QAccessible::ProgressBar:
        return true;
    default:
        return false;
    }
}

inline QString nodeLabel(QAccessibleInterface* iface) {
    QObject* o = iface->object();
    const QString name = o ? o->objectName() : QString();
    const QString cls = o ? QString::fromLatin1(o->metaObject()->className()) : QStringLiteral("-");
    return name.isEmpty() ? cls : name;
}

inline void collect(QAccessibleInterface* iface, const QString& where,
                    std::vector<AccessibleNode>& into, QSet<QAccessible::Id>& seen, int depth) {
    if (!iface || !iface->isValid() || depth > 64)
        return;
    const QAccessible::Id id = QAccessible::uniqueId(iface);
    if (seen.contains(id))
        return;
    seen.insert(id);
    AccessibleNode node;
    node.where = where;
    node.role = iface->role();
    node.name = iface->text(QAccessible::Name);
    node.description = iface->text(QAccessible::Description);
    node.value = iface->text(QAccessible::Value);
    node.state = iface->state();
    node.object = iface->object();
    node.iface = iface;
    into.push_back(node);
    const int count = iface->childCount();
    for (int k = 0; k < count; ++k) {
        QAccessibleInterface* c = iface->child(k);
        if (c)
            collect(c, where + QLatin1Char('/') + nodeLabel(c), into, seen, depth + 1);
    }
}

// Every node under the window, the window first.
inline std::vector<AccessibleNode> accessibleTree(QWidget* window) {
    std::vector<AccessibleNode> nodes;
    QSet<QAccessible::Id> seen;
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window);
    collect(root, root ? nodeLabel(root) : QString(), nodes, seen, 0);
    return nodes;
}

} // namespace pmx::test
