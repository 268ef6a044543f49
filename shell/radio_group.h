// A titled group of radio buttons with one item index, -1 for none.
#pragma once

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>

#include <functional>
#include <vector>

class TRadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent);

  int ItemIndex() const;
  // Selecting another item runs OnClick, as a click on it would.
  void SetItemIndex(int index);

  QRadioButton* Button(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }
  int Count() const { return static_cast<int>(buttons_.size()); }

  std::function<void()> OnClick;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Arrange();

  QButtonGroup group_;
  std::vector<QRadioButton*> buttons_;
  int columns_;
};
