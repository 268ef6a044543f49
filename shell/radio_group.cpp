#include "shell/radio_group.h"

#include <QResizeEvent>

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns,
                         QWidget* parent)
    : QGroupBox(caption, parent), columns_(columns < 1 ? 1 : columns) {
  int id = 0;
  for (const QString& item : items) {
    auto* button = new QRadioButton(item, this);  // owned by the group box
    group_.addButton(button, id++);
    buttons_.push_back(button);
  }
  connect(&group_, &QButtonGroup::idClicked, this, [this](int) {
    if (OnClick) OnClick();
  });
  Arrange();
}

int TRadioGroup::ItemIndex() const { return group_.checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
  if (index == ItemIndex()) return;
  if (index < 0 || index >= Count()) {
    // An exclusive group cannot clear its last check; lift that briefly.
    group_.setExclusive(false);
    for (QRadioButton* b : buttons_) b->setChecked(false);
    group_.setExclusive(true);
  } else {
    buttons_[static_cast<std::size_t>(index)]->setChecked(true);
  }
  if (OnClick) OnClick();
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  Arrange();
}

// The items share the space below the caption evenly, column by column.
void TRadioGroup::Arrange() {
  if (buttons_.empty()) return;
  const int count = Count();
  const int rows = (count + columns_ - 1) / columns_;
  const int top = 14;
  const int left = 8;
  const int inner_w = width() - 2 * left;
  const int inner_h = height() - top - 4;
  const int col_w = inner_w / columns_;
  const int row_h = inner_h / rows;
  for (int i = 0; i < count; ++i) {
    const int col = i / rows;
    const int row = i % rows;
    buttons_[static_cast<std::size_t>(i)]->setGeometry(left + col * col_w, top + row * row_h, col_w,
                                                       row_h);
  }
}
