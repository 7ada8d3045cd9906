#pragma once
// The modal dialog that lists the serial ports present on the machine and lets
// the operator choose one when the component has no port number to open.

#include <QDialog>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "serial/PortPrompt.h"

class QComboBox;
class QLabel;
class QPushButton;
class QFrame;

// The ports 1..50 that are present, ascending.
std::vector<uint16_t> PresentPorts(const std::function<bool(uint16_t)>& isPresent);

// The port number in a list item "COMn" (its text from the fourth character on),
// 0 when there is none.
uint16_t PortNumberOfItem(const QString& item);

class TComSelectForm : public QDialog {
  Q_OBJECT
 public:
  // Fills the list with the present ports and selects the first; configured
  // is the port name the settings gave (shown in the question), or empty.
  explicit TComSelectForm(const std::function<bool(uint16_t)>& isPresent, const QString& configured = {},
                          QWidget* parent = nullptr);

  // The port of the selected item; 0 when the list is empty.
  uint16_t SelectedPort() const;

  QLabel* Label1;
  QLabel* Label2;
  QFrame* Bevel1;
  QComboBox* PortsComboBox;
  QPushButton* OkBtn;
  QPushButton* AbortBtn;
};

// Shows TComSelectForm modally; a TPortPrompt. Returns 0 when the dialog did
// not end with a port chosen (cancelled, or OK on an empty list).
uint16_t ShowPortSelectDialog(const std::function<bool(uint16_t)>& isPresent, const QString& configured = {});
