#include "named_list.h"

#include <QAccessibleWidget>

namespace fw::app {

namespace {

class NamedListAccessible : public QAccessibleWidget {
public:
    explicit NamedListAccessible(QComboBox *list)
        : QAccessibleWidget(list, QAccessible::ComboBox) {}

    QString text(QAccessible::Text type) const override {
        const auto *list = static_cast<const QComboBox *>(widget());
        if (type == QAccessible::Name)
            return list->accessibleName();
        if (type == QAccessible::Value)
            return list->currentText();
        return QAccessibleWidget::text(type);
    }
};

QAccessibleInterface *namedListFactory(const QString &className, QObject *object) {
    if (className == QLatin1String(NamedList::staticMetaObject.className()) && object)
        return new NamedListAccessible(static_cast<NamedList *>(object));
    return nullptr;
}

} // namespace

NamedList::NamedList(QWidget *parent) : QComboBox(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(namedListFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace fw::app
