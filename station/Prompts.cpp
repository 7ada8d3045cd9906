#include "station/Prompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QWidget>

DefaultPrompts::DefaultPrompts(QWidget* owner) : owner_(owner) {}

void DefaultPrompts::Message(const QString& text) {
  QMessageBox::information(owner_, owner_->windowTitle(), text, QMessageBox::Ok);
}

void DefaultPrompts::Info(const QString& text) {
  QMessageBox::information(owner_, owner_->windowTitle(), text, QMessageBox::Ok);
}

void DefaultPrompts::Error(const QString& text) {
  QMessageBox::critical(owner_, owner_->windowTitle(), text, QMessageBox::Ok);
}

QString DefaultPrompts::OpenFileName(QWidget* parent) {
  // No filter, no starting folder, no title of its own: every file is listed.
  return QFileDialog::getOpenFileName(parent, QString(), QString(), QString(), nullptr,
                                      QFileDialog::ReadOnly);
}

void DefaultPrompts::Beep() { QApplication::beep(); }
