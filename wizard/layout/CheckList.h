// A list of items with check boxes that a screen reader can tick: its items
// are checkable list items whose "Toggle" action changes the check (a plain
// list view's cells would only change the selection).
#pragma once

#include <QListWidget>

namespace wizard::layout {

class CheckList : public QListWidget {
    Q_OBJECT

public:
    explicit CheckList(QWidget* parent = nullptr);
};

}  // namespace wizard::layout
