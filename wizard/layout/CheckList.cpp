#include "wizard/layout/CheckList.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>

#include <vector>

namespace wizard::layout {

namespace {

// One row of the list as a screen reader sees it.
class CheckItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    CheckItemAccessible(QListWidget* list, int row) : list_(list), row_(row) {}

    bool isValid() const override { return list_ && row_ < list_->count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(list_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::Role role() const override { return QAccessible::CheckBox; }

    QString text(QAccessible::Text t) const override {
        const QListWidgetItem* it = Item();
        return it && t == QAccessible::Name ? it->text() : QString();
    }

    QRect rect() const override {
        const QListWidgetItem* it = Item();
        if (!it) return {};
        const QRect r = list_->visualItemRect(it);
        return QRect(list_->viewport()->mapToGlobal(r.topLeft()), r.size());
    }

    QAccessible::State state() const override {
        QAccessible::State st;
        const QListWidgetItem* it = Item();
        if (!it) return st;
        st.selectable = true;
        st.selected = it->isSelected();
        st.focusable = true;
        st.focused = list_->hasFocus() && list_->currentRow() == row_;
        st.checkable = true;
        st.checked = it->checkState() == Qt::Checked;
        st.invisible = !list_->isVisible();
        st.disabled = !list_->isEnabled();
        return st;
    }

    void* interface_cast(QAccessible::InterfaceType t) override {
        return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override { return {toggleAction(), setFocusAction()}; }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    void doAction(const QString& name) override {
        QListWidgetItem* it = Item();
        if (!it || !list_->isEnabled()) return;
        list_->setCurrentItem(it);
        if (name == toggleAction())
            it->setCheckState(it->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        else if (name == setFocusAction())
            list_->setFocus(Qt::OtherFocusReason);
    }

private:
    QListWidgetItem* Item() const { return isValid() ? list_->item(row_) : nullptr; }

    QPointer<QListWidget> list_;
    int row_;
};

// The list itself: its children are its rows, not its viewport and scroll bars.
class CheckListAccessible : public QAccessibleWidget {
public:
    explicit CheckListAccessible(QListWidget* list) : QAccessibleWidget(list, QAccessible::List) {}
    ~CheckListAccessible() override {
        for (QAccessible::Id id : rows_) QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return List()->count(); }

    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= List()->count()) return nullptr;
        while (static_cast<int>(rows_.size()) <= index) {
            auto* row = new CheckItemAccessible(List(), static_cast<int>(rows_.size()));
            rows_.push_back(QAccessible::registerAccessibleInterface(row));
        }
        return QAccessible::accessibleInterface(rows_[static_cast<size_t>(index)]);
    }

    int indexOfChild(const QAccessibleInterface* iface) const override {
        for (size_t i = 0; i < rows_.size(); ++i)
            if (QAccessible::accessibleInterface(rows_[i]) == iface) return static_cast<int>(i);
        return -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint local = List()->viewport()->mapFromGlobal(QPoint(x, y));
        const QListWidgetItem* it = List()->itemAt(local);
        return it ? child(List()->row(it)) : nullptr;
    }

    QAccessibleInterface* focusChild() const override {
        return List()->hasFocus() ? child(List()->currentRow()) : nullptr;
    }

private:
    QListWidget* List() const { return static_cast<QListWidget*>(widget()); }

    mutable std::vector<QAccessible::Id> rows_;
};

QAccessibleInterface* CheckListFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("wizard::layout::CheckList") || !object) return nullptr;
    return new CheckListAccessible(static_cast<CheckList*>(object));
}

}  // namespace

CheckList::CheckList(QWidget* parent) : QListWidget(parent) {
    static const bool installed = (QAccessible::installFactory(CheckListFactory), true);
    (void)installed;
    // A check that changes, by mouse, key or program, is announced on its row.
    connect(this, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (!QAccessible::isActive()) return;
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(this, changed);
        event.setChild(row(item));
        QAccessible::updateAccessibility(&event);
    });
}

}  // namespace wizard::layout
