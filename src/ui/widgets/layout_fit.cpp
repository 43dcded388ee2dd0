#include "ui/widgets/layout_fit.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QTabWidget>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr const char* DESIGN_PROPERTY = "design_geometry";
constexpr int EDGE_MARGIN = 4;         // kept free between a caption and its parent's right edge
constexpr int UNLIMITED_EDIT = 32767;  // QLineEdit's length limit when none is set

// The controls placed by hand under `parent`: the children of plain widgets and group boxes and
// the pages of tab widgets; the insides of Qt's composite controls are theirs.
void Collect(QWidget& parent, std::vector<QWidget*>& out) {
  if (auto* tabs = qobject_cast<QTabWidget*>(&parent)) {
    for (int i = 0; i < tabs->count(); ++i) Collect(*tabs->widget(i), out);
    return;
  }
  for (QObject* object : parent.children()) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr || widget->isWindow()) continue;
    out.push_back(widget);
    if (qobject_cast<QGroupBox*>(widget) != nullptr ||
        qobject_cast<QTabWidget*>(widget) != nullptr ||
        widget->metaObject() == &QWidget::staticMetaObject)
      Collect(*widget, out);
  }
}

QRect Design(QWidget& widget) {
  const QVariant stored = widget.property(DESIGN_PROPERTY);
  return stored.isValid() ? stored.toRect() : widget.geometry();
}

bool Is_Caption(const QWidget& widget) {
  return qobject_cast<const QLabel*>(&widget) != nullptr ||
         qobject_cast<const QAbstractButton*>(&widget) != nullptr;
}

// The designed width of the area `widget` is placed in: a tab page is as wide as its tab widget
// less the frame.
int Parent_Width(QWidget& widget) {
  QWidget* parent = widget.parentWidget();
  QWidget* stack = parent->parentWidget();
  if (stack != nullptr && qobject_cast<QStackedWidget*>(stack) != nullptr) {
    if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget()))
      return Design(*tabs).width() - 2 * EDGE_MARGIN;
  }
  return Design(*parent).width();
}

// The width a caption needs: its own size hint (text, check indicator, button bevel).
int Caption_Need(QWidget& widget) {
  return widget.sizeHint().width();
}

// The room of a caption in the design: up to the nearest sibling to its right whose rows it
// shares, else up to its parent's right edge.
int Caption_Room(QWidget& widget, const std::vector<QWidget*>& all) {
  const QRect own = Design(widget);
  int right = Parent_Width(widget) - EDGE_MARGIN;
  for (QWidget* other : all) {
    if (other == &widget || other->parentWidget() != widget.parentWidget()) continue;
    const QRect rect = Design(*other);
    const bool same_rows = rect.top() < own.bottom() && own.top() < rect.bottom();
    if (same_rows && rect.left() > own.left()) right = std::min(right, rect.left());
  }
  return right - own.left();
}

int Edit_Need(QLineEdit& edit) {
  QString text = edit.property(FIT_TEXT_PROPERTY).toString();
  // An edit without a length limit (a read-only field) shows its own text.
  if (text.isEmpty())
    text = edit.maxLength() < UNLIMITED_EDIT ? QString(std::min(edit.maxLength(), 32), '0')
                                             : edit.text();
  QStyleOptionFrame option;
  option.initFrom(&edit);
  option.lineWidth = edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
  const QMargins margins = edit.textMargins();
  // QLineEdit keeps 2 pixels of its own on each side of the text.
  const int content =
      edit.fontMetrics().horizontalAdvance(text) + margins.left() + margins.right() + 2 * 2 + 1;
  return edit.style()
      ->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(content, edit.height()), &edit)
      .width();
}

// Need and room (both in pixels; the room is the design's, which grows with the factor).
struct Need_Room {
  int Need;
  int Room;
};

}  // namespace

int Scaled(int design, double factor) {
  return static_cast<int>(std::lround(design * factor));
}

double Layout_Factor(QWidget& root) {
  std::vector<QWidget*> all;
  Collect(root, all);
  std::vector<Need_Room> checks;
  for (QWidget* widget : all) {
    if (Is_Caption(*widget)) {
      checks.push_back({Caption_Need(*widget), Caption_Room(*widget, all)});
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      checks.push_back({Edit_Need(*edit), Design(*edit).width()});
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      checks.push_back({combo->minimumSizeHint().width(), Design(*combo).width()});
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
      // Without a layout, the group's smallest size is what its title and frame take.
      checks.push_back({group->minimumSizeHint().width(), Design(*group).width()});
    } else if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
      // The tab captions share the top row with whatever sits to their right.
      const int need = tabs->tabBar()->sizeHint().width() + EDGE_MARGIN;
      const QRect own = Design(*tabs);
      int right = own.right();
      for (QWidget* other : all) {
        if (other->parentWidget() != tabs->parentWidget() || other == tabs) continue;
        const QRect rect = Design(*other);
        const int bar_bottom = own.top() + tabs->tabBar()->sizeHint().height();
        if (rect.top() < bar_bottom && rect.left() > own.left())
          right = std::min(right, rect.left());
      }
      checks.push_back({need, right - own.left()});
    }
  }
  double factor = 1.0;
  for (const Need_Room& check : checks) {
    if (check.Room > 0) factor = std::max(factor, static_cast<double>(check.Need) / check.Room);
  }
  // Whole twentieths, so the rounding of every coordinate still leaves each text its room.
  return std::ceil(factor * 20.0 - 1e-9) / 20.0;
}

void Scale_Layout(QWidget& root, double factor) {
  std::vector<QWidget*> all;
  Collect(root, all);
  for (QWidget* widget : all) {
    if (!widget->property(DESIGN_PROPERTY).isValid())
      widget->setProperty(DESIGN_PROPERTY, widget->geometry());
  }
  for (QWidget* widget : all) {
    const QRect design = widget->property(DESIGN_PROPERTY).toRect();
    int width = Scaled(design.width(), factor);
    int height = Scaled(design.height(), factor);
    if (Is_Caption(*widget)) {
      // A caption takes its text's width, but never reaches over the control beside it: a label
      // lying over a button would take that button's clicks.
      const int room = static_cast<int>(Caption_Room(*widget, all) * factor);
      width = std::min(std::max(width, widget->sizeHint().width()), room);
      height = std::max(height, widget->sizeHint().height());
    }
    widget->setGeometry(Scaled(design.left(), factor), Scaled(design.top(), factor), width, height);
  }
}
