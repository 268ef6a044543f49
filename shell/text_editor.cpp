#include "shell/text_editor.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/files.h"
#include "shell/dialogs.h"

namespace {

// What the file was, so that a save writes it back the same way.
struct TTextForm {
  bool crlf = false;
  bool latin1 = false;  // bytes that are not UTF-8, as an old editor left them
};

QString Decode(std::string bytes, TTextForm& form) {
  form.crlf = bytes.find("\r\n") != std::string::npos;
  QString text = QString::fromStdString(bytes);
  if (text.toStdString() != bytes) {
    form.latin1 = true;
    text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  }
  text.replace("\r\n", "\n");
  return text;
}

std::string Encode(QString text, const TTextForm& form) {
  if (form.crlf) text.replace("\n", "\r\n");
  return form.latin1 ? text.toLatin1().toStdString() : text.toStdString();
}

}  // namespace

QDialog* OpenTextEditor(const std::string& path, const std::string& savedNote, QWidget* parent) {
  TTextForm form;
  const QString text = Decode(ReadWholeFile(path).value_or(""), form);

  auto* dialog = new QDialog(parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setObjectName("frmTextEditor");
  dialog->setWindowTitle(QFileInfo(QString::fromStdString(path)).fileName() + " - Tolvane");
  auto* edit = new QPlainTextEdit(text, dialog);
  edit->setObjectName("txtText");
  edit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* note = new QLabel(dialog);
  note->setObjectName("lblNote");
  note->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Close, dialog);

  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(edit);
  layout->addWidget(note);
  layout->addWidget(buttons);
  dialog->resize(640, 480);

  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, [=] {
    Guarded(dialog, [&] {
      ReplaceFileAtomically(path, Encode(edit->toPlainText(), form));
      edit->document()->setModified(false);
      note->setText(QString::fromStdString(savedNote));
    });
  });
  // A later edit makes the note about the saved file stale.
  QObject::connect(edit, &QPlainTextEdit::modificationChanged, note, [note](bool changed) {
    if (changed) note->clear();
  });
  dialog->show();
  return dialog;
}
