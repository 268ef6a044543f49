#include "shell/mail_address_dlg.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "shell/ui_style.h"

TMailAddressDlg::TMailAddressDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("MailAddressDlg");
  setWindowTitle("Address");
  setFixedSize(240, 124);

  auto* bevel = new QFrame(this);  // owned by the dialog
  bevel->setFrameShape(QFrame::StyledPanel);
  bevel->setFrameShadow(QFrame::Sunken);
  bevel->setGeometry(8, 8, 224, 73);

  auto* name_label = new QLabel("Name", bevel);
  name_label->setGeometry(8, 12, 50, 16);
  NameEdit = new QLineEdit(bevel);
  NameEdit->setObjectName("NameEdit");
  NameEdit->setGeometry(64, 8, 150, 21);
  NameEdit->setMaxLength(255);
  name_label->setBuddy(NameEdit);

  auto* address_label = new QLabel("Address", bevel);
  address_label->setGeometry(8, 44, 50, 16);
  AddressEdit = new QLineEdit(bevel);
  AddressEdit->setObjectName("AddressEdit");
  AddressEdit->setGeometry(64, 40, 150, 21);
  AddressEdit->setMaxLength(255);
  address_label->setBuddy(AddressEdit);

  OKButton = new QPushButton("OK", this);
  OKButton->setObjectName("OKButton");
  OKButton->setGeometry(79, 90, 75, 25);
  OKButton->setDefault(true);
  CancelButton = new QPushButton("Cancel", this);
  CancelButton->setObjectName("CancelButton");
  CancelButton->setGeometry(159, 90, 75, 25);

  FitCaptions(this);
  setTabOrder(NameEdit, AddressEdit);
  setTabOrder(AddressEdit, OKButton);
  setTabOrder(OKButton, CancelButton);
  connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
  // Escape rejects a QDialog already; the button does the same.
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TMailAddressDlg::SetAddress(const TmsMailAddress& address) {
  address_.Assign(address);
  NameEdit->setText(QString::fromStdString(address_.Name()));
  AddressEdit->setText(QString::fromStdString(address_.Address()));
}

void TMailAddressDlg::OKButtonClick() {
  // Cut to 255 bytes each; a name typed with the address counts when the
  // name field is empty.
  address_ = TmsMailAddress(AddressEdit->text().toStdString(), NameEdit->text().toStdString());
  accept();
}

void InstallMailAddressEditHook() {
  SetMailAddressEditHook([](TmsMailAddress& address) {
    TMailAddressDlg dialog;
    dialog.SetAddress(address);
    if (dialog.exec() != QDialog::Accepted) return false;
    address.Assign(dialog.Address());
    return true;
  });
}
