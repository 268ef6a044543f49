// The small dialog for editing one mail address (display name and mailbox).
// mail/ reaches it through the hook that InstallMailAddressEditHook sets, so
// that the message model stays free of the toolkit.
#pragma once

#include <QDialog>

#include "mail/message.h"

class QLineEdit;
class QPushButton;

class TMailAddressDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TMailAddressDlg(QWidget* parent = nullptr);

  // Copies the address into the dialog's own and shows it.
  void SetAddress(const TmsMailAddress& address);
  const TmsMailAddress& Address() const { return address_; }

  QLineEdit* NameEdit;
  QLineEdit* AddressEdit;
  QPushButton* OKButton;
  QPushButton* CancelButton;

 private:
  void OKButtonClick();

  TmsMailAddress address_;
};

// Lets TmsMailAddress::Edit open the dialog modally.
void InstallMailAddressEditHook();
