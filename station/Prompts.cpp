#include "station/Prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

DefaultPrompts::DefaultPrompts(QWidget* owner) : owner_(owner) {}

void DefaultPrompts::Message(const QString& text) {
  QMessageBox::information(owner_, owner_->windowTitle(), text, QMessageBox::Ok);
}

void DefaultPrompts::Warning(const QString& text) {
  QMessageBox::warning(owner_, owner_->windowTitle(), text, QMessageBox::Ok);
}

void DefaultPrompts::Info(const QString& text) {
  QMessageBox::information(owner_, owner_->windowTitle(), text, QMessageBox::Ok);
}

void DefaultPrompts::Error(const QString& text) {
  QMessageBox::critical(owner_, owner_->windowTitle(), text, QMessageBox::Ok);
}

QString DefaultPrompts::OpenFileName(QWidget* parent) {
  // No filter, no starting folder, no title of its own: every file is listed.
  // AnyFile hands back a typed name of a missing file as well, so that loading
  // reports it to the operator instead of the dialog refusing it silently.
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::ReadOnly);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().constFirst();
}

void DefaultPrompts::Beep() { QApplication::beep(); }

bool DefaultPrompts::Question(const QString& text) {
  QMessageBox box(QMessageBox::Question, owner_->windowTitle(), text, QMessageBox::NoButton, owner_);
  QPushButton* yes = box.addButton(QStringLiteral("是"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("否"), QMessageBox::NoRole);
  box.setDefaultButton(no);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}
