#include "shell/TPopupMenu.h"

#include "desktop/TApplication.h"

#include <QAction>
#include <QMenu>
#include <QPoint>

void TMenuItem::Click()
{
    if (Enabled && OnClick)
        OnClick(this);
}

TMenuItem* TPopupMenu::Add(std::string caption)
{
    items_.push_back(std::make_unique<TMenuItem>(std::move(caption)));
    return items_.back().get();
}

void TPopupMenu::Popup(int x, int y)
{
    QMenu menu;
    for (const auto& item : items_) {
        QAction* action = menu.addAction(QString::fromStdString(item->Caption));
        action->setEnabled(item->Enabled);
        if (item->Default) {
            QFont bold = action->font();
            bold.setBold(true);
            action->setFont(bold);
        }
        TMenuItem* target = item.get();
        QObject::connect(action, &QAction::triggered,
                         [target] { Application().Guard([&] { target->Click(); }); });
    }
    menu.exec(QPoint(x, y));
}
