// Every caption, group title, edit text, column header and cell of the windows fits its control
// whole with the font of a Debian desktop (DejaVu Sans) at the program's 11 pixels and at 125 %
// of it, and no caption runs into the control beside it. Measured with the widgets' own font
// metrics on the offscreen platform.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <algorithm>
#include <cstring>

#include "program_screen.h"
#include "ui/automation_page.h"
#include "ui/receiver_page.h"

namespace {

// The width a caption's text takes inside its control, with the check or radio indicator before it.
int Caption_Width(QWidget& widget) {
  const QFontMetrics metrics = widget.fontMetrics();
  QStyle* style = widget.style();
  if (auto* label = qobject_cast<QLabel*>(&widget)) return metrics.horizontalAdvance(label->text());
  auto* button = qobject_cast<QAbstractButton*>(&widget);
  const int text = metrics.horizontalAdvance(button->text());
  if (qobject_cast<QCheckBox*>(&widget) != nullptr)
    return style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, &widget) +
           style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, &widget) + text;
  if (qobject_cast<QRadioButton*>(&widget) != nullptr)
    return style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, &widget) +
           style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, &widget) + text;
  return text + 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &widget);
}

// Where a sibling lies on screen; for a tab widget only its row of tab captions counts, since
// other controls may sit beside the captions over its top edge.
QRect Occupied(QWidget& sibling) {
  if (auto* tabs = qobject_cast<QTabWidget*>(&sibling)) {
    QTabBar* bar = tabs->tabBar();
    const QRect last = bar->tabRect(bar->count() - 1);
    return QRect(bar->mapTo(tabs, QPoint(0, 0)), QSize(last.right() + 1, bar->height()))
        .translated(tabs->pos());
  }
  return sibling.geometry();
}

int Edit_Text_Room(QLineEdit& edit) {
  QStyleOptionFrame option;
  option.initFrom(&edit);
  option.rect = QRect(QPoint(0, 0), edit.size());
  option.lineWidth = edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit);
  const QRect contents = edit.style()->subElementRect(QStyle::SE_LineEditContents, &option, &edit);
  const QMargins margins = edit.textMargins();
  return contents.width() - margins.left() - margins.right() - 2 * 2;  // QLineEdit's own margin
}

int Combo_Text_Room(QComboBox& combo) {
  QStyleOptionComboBox option;
  option.initFrom(&combo);
  option.rect = QRect(QPoint(0, 0), combo.size());
  option.editable = combo.isEditable();
  return combo.style()
             ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &combo)
             .width() -
         4;
}

// Checks every control of `window` that is shown as the window stands now.
void Expect_Controls_Fit(QWidget& window, const QString& where) {
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    if (!widget->isVisibleTo(&window)) continue;
    const QString name = where + " / " + widget->metaObject()->className() + " ";
    const QFontMetrics metrics = widget->fontMetrics();
    const bool caption = qobject_cast<QLabel*>(widget) != nullptr ||
                         qobject_cast<QCheckBox*>(widget) != nullptr ||
                         qobject_cast<QRadioButton*>(widget) != nullptr ||
                         qobject_cast<QPushButton*>(widget) != nullptr;
    if (caption) {
      auto* label = qobject_cast<QLabel*>(widget);
      auto* button = qobject_cast<QAbstractButton*>(widget);
      const QString text = label != nullptr ? label->text() : button->text();
      if (text.isEmpty() || (label != nullptr && label->wordWrap())) continue;
      const int need = Caption_Width(*widget);
      EXPECT_LE(need, widget->width()) << (name + text).toStdString();
      // The text's extent runs into no other control of its parent.
      const bool right_aligned = label != nullptr && label->alignment().testFlag(Qt::AlignRight);
      QRect extent = widget->geometry();
      if (right_aligned)
        extent.setLeft(extent.right() - need + 1);
      else
        extent.setWidth(need);
      extent.adjust(0, 2, 0, -2);  // a frame may touch the text's line from above or below
      for (QWidget* sibling :
           widget->parentWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (sibling == widget || sibling->isWindow() || !sibling->isVisibleTo(&window)) continue;
        EXPECT_FALSE(extent.intersects(Occupied(*sibling)))
            << (name + text + " runs into " + sibling->metaObject()->className()).toStdString();
      }
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
      EXPECT_LE(metrics.horizontalAdvance(group->title()) + 16, group->width())
          << (name + group->title()).toStdString();
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      if (edit->parentWidget() != nullptr &&
          qobject_cast<QComboBox*>(edit->parentWidget()) != nullptr)
        continue;
      // An edit shows its longest entry whole: digits, as most take; the key edit 32 hex digits;
      // a field without a length limit its own text.
      QString text = edit->property("widest").toString();
      if (text.isEmpty())
        text = edit->maxLength() < 32767 ? QString(std::min(edit->maxLength(), 16), '8')
                                         : edit->text();
      EXPECT_LE(metrics.horizontalAdvance(text), Edit_Text_Room(*edit))
          << (name + edit->objectName() + " " + text).toStdString();
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
      for (int i = 0; i < combo->count(); ++i)
        EXPECT_LE(metrics.horizontalAdvance(combo->itemText(i)), Combo_Text_Room(*combo))
            << (name + combo->itemText(i)).toStdString();
    }
  }
}

// Every header word fits its column, the wrapped header fits the header row, every cell fits.
void Expect_Grid_Fits(QTableView& grid, const QString& where) {
  const QFontMetrics metrics = grid.fontMetrics();
  QAbstractItemModel* model = grid.model();
  const int header_height = grid.horizontalHeader()->height();
  for (int c = 0; c < model->columnCount(); ++c) {
    const int width = grid.columnWidth(c);
    const QString header = model->headerData(c, Qt::Horizontal).toString();
    const std::string name = (where + " / " + header).toStdString();
    for (const QString& word : header.split(' ', Qt::SkipEmptyParts))
      EXPECT_LE(metrics.horizontalAdvance(word), width - 4)
          << name << " word " << word.toStdString();
    const QRect wrapped = metrics.boundingRect(QRect(0, 0, width - 4, 1000),
                                               Qt::AlignCenter | Qt::TextWordWrap, header);
    EXPECT_LE(wrapped.height(), header_height - 2) << name;
    for (int r = 0; r < model->rowCount(); ++r) {
      const QString cell = model->data(model->index(r, c)).toString();
      EXPECT_LE(metrics.horizontalAdvance(cell), width - 2)
          << name << " cell '" << cell.toStdString() << "'";
    }
    EXPECT_GE(grid.verticalHeader()->defaultSectionSize(), metrics.height() + 2) << name;
  }
}

class Text_Fit_Test : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    Test_Widgets_App();
    saved_font_ = QApplication::font();
    QFont font("DejaVu Sans");
    font.setPixelSize(GetParam());
    QApplication::setFont(font);
    screen_ = std::make_unique<Program_Screen>();
    Fill_With_Content(*screen_);
  }
  void TearDown() override {
    screen_.reset();
    QApplication::setFont(saved_font_);
  }
  QFont saved_font_;
  std::unique_ptr<Program_Screen> screen_;
};

TEST_P(Text_Fit_Test, The_Main_Window_Both_Tabs_And_The_Serial_Dialog) {
  TMain_Form& form = screen_->main_form;
  form.Receiver_Page().LabeledEdit_DC9_Encoding_Key->setProperty(
      "widest", "0123456789abcdef0123456789abcdef");  // a 128-bit key in hex
  form.Automation_Page().LabeledEdit_Out_IP->setProperty("widest", "255.255.255.255");
  form.show();
  for (int tab : {0, 1}) {
    form.PageControl_Receiver->setCurrentIndex(tab);
    Expect_Controls_Fit(form, "main window, tab " + QString::number(tab));
  }
  EXPECT_LE(form.StatusBar1[0]->fontMetrics().horizontalAdvance("Receiver port closed."),
            form.StatusBar1[0]->width());
  screen_->com_settings.show();
  Expect_Controls_Fit(screen_->com_settings, "serial dialog");
  EXPECT_GE(form.Automation_Page().ComboBox_COM_Nr->width(),
            form.fontMetrics().horizontalAdvance("COM64"));
}

// The key field shows the whole key, shown or hidden, in either format: a 256-bit key in hex (64
// digits or stars) and a 32-character text key, and a 192-bit key in hex.
TEST_P(Text_Fit_Test, The_Key_Field_Shows_The_Whole_Key) {
  TMain_Form& form = screen_->main_form;
  TReceiver_Page& page = form.Receiver_Page();
  Settings_Record& settings = screen_->core.Settings();
  form.show();
  QLineEdit& edit = *page.LabeledEdit_DC9_Encoding_Key;
  struct Case {
    QAbstractButton* Mode;
    QAbstractButton* Format;
    int Shown_Length;
  };
  const Case cases[] = {{page.RadioButton_DC9_AES_256, page.RadioButton_Aes_Key_Hex, 64},
                        {page.RadioButton_DC9_AES_192, page.RadioButton_Aes_Key_Hex, 48},
                        {page.RadioButton_DC9_AES_256, page.RadioButton_Aes_Key_Text, 32}};
  for (const Case& c : cases) {
    const char* text_key = "Qx7#Wm9@Lp2$Zr5&Hk8*Nv3!Bt6^JdW%";
    std::memcpy(settings.DC9_AES_Key, text_key, 32);
    c.Mode->click();
    c.Format->click();
    for (bool show : {true, false}) {
      if (page.CheckBox_Show_AES_Password->isChecked() != show)
        page.CheckBox_Show_AES_Password->click();
      const QString shown = edit.displayText();
      ASSERT_EQ(shown.size(), c.Shown_Length) << shown.toStdString();
      EXPECT_LE(QFontMetrics(edit.font()).horizontalAdvance(shown), Edit_Text_Room(edit))
          << c.Shown_Length << (show ? " shown" : " hidden");
      EXPECT_GE(QFontInfo(edit.font()).pixelSize(), 7);
    }
  }
  // A 128-bit key keeps the page's font.
  page.RadioButton_DC9_AES_128->click();
  page.RadioButton_Aes_Key_Hex->click();
  EXPECT_EQ(QFontInfo(edit.font()).pixelSize(), QFontInfo(page.font()).pixelSize());
}

TEST_P(Text_Fit_Test, The_Event_And_Object_Lists) {
  Operator_Windows::Show_Window(screen_->windows.Events());
  Operator_Windows::Show_Window(screen_->windows.Objects());
  ASSERT_GE(screen_->windows.Events().Row_Count(), 5);
  ASSERT_TRUE(screen_->windows.Objects().Row_Lost(1));
  Expect_Grid_Fits(*screen_->windows.Events().StringGrid_Events, "Event List");
  Expect_Grid_Fits(*screen_->windows.Objects().StringGrid_Latest_Events, "Object List");
}

TEST_P(Text_Fit_Test, The_About_Window) {
  screen_->about.show();
  Expect_Controls_Fit(screen_->about, "About");
}

// The program's 11-pixel font, and the same at 125 %.
INSTANTIATE_TEST_SUITE_P(Fonts, Text_Fit_Test, ::testing::Values(11, 14));

}  // namespace
