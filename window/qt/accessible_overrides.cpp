#include "accessible_overrides.h"

#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QVariant>
#include <QWidget>

namespace window {

namespace {

constexpr const char* kProperty = "setupAccessibleOverride";

// The toolkit's own interface of the control, with the few answers that are
// wrong for it corrected. The toolkit's interface stays in its cache and is
// deleted with it; this one only borrows it.
class Corrected : public QAccessibleInterface {
  public:
    Corrected(QAccessibleInterface* own, AccessibleOverride what) : own_(own), what_(what) {}

    bool isValid() const override { return own_->isValid(); }
    QObject* object() const override { return own_->object(); }
    QWindow* window() const override { return own_->window(); }
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(
        QAccessible::Relation match) const override {
        return own_->relations(match);
    }
    QAccessibleInterface* focusChild() const override { return own_->focusChild(); }
    QAccessibleInterface* childAt(int x, int y) const override { return own_->childAt(x, y); }
    QAccessibleInterface* parent() const override { return own_->parent(); }
    QAccessibleInterface* child(int index) const override { return own_->child(index); }
    int childCount() const override { return own_->childCount(); }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return own_->indexOfChild(child);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && what_ == AccessibleOverride::NamedList) {
            if (auto* w = qobject_cast<QWidget*>(object())) {
                if (!w->accessibleName().isEmpty()) return w->accessibleName();
            }
        }
        return own_->text(t);
    }
    void setText(QAccessible::Text t, const QString& text) override { own_->setText(t, text); }
    QRect rect() const override { return own_->rect(); }
    QAccessible::Role role() const override { return own_->role(); }
    QAccessible::State state() const override {
        QAccessible::State state = own_->state();
        if (what_ == AccessibleOverride::ReadOnlyBox) {
            state.editable = false;
            state.readOnly = true;
        }
        return state;
    }
    QColor foregroundColor() const override { return own_->foregroundColor(); }
    QColor backgroundColor() const override { return own_->backgroundColor(); }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (what_ == AccessibleOverride::ReadOnlyBox && type == QAccessible::EditableTextInterface)
            return nullptr;
        void* found = own_->interface_cast(type);
        if (!found && what_ == AccessibleOverride::NamedList &&
            type == QAccessible::TextInterface) {
            // The list's text is the text of its edit field.
            auto* combo = qobject_cast<QComboBox*>(object());
            if (combo && combo->lineEdit()) {
                if (QAccessibleInterface* edit =
                        QAccessible::queryAccessibleInterface(combo->lineEdit()))
                    found = edit->interface_cast(type);
            }
        }
        return found;
    }

  private:
    QAccessibleInterface* own_;
    AccessibleOverride what_;
};

bool asking = false;  // set while the toolkit's own interface is looked up

QAccessibleInterface* Factory(const QString&, QObject* object) {
    if (asking || !object || !object->isWidgetType()) return nullptr;
    const QVariant what = object->property(kProperty);
    if (!what.isValid()) return nullptr;
    asking = true;
    QAccessibleInterface* own = QAccessible::queryAccessibleInterface(object);
    asking = false;
    if (!own) return nullptr;
    return new Corrected(own, static_cast<AccessibleOverride>(what.toInt()));
}

}  // namespace

void OverrideAccessible(QWidget* widget, AccessibleOverride what) {
    static const bool installed = [] {
        QAccessible::installFactory(&Factory);
        return true;
    }();
    (void)installed;
    widget->setProperty(kProperty, static_cast<int>(what));
}

}  // namespace window
