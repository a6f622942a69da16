// Shows the boxes core code asks for as real QMessageBoxes.
#pragma once

#include "MessageBox.h"

class QtMessageSink : public MessageSink {
public:
    // Shows the box from the GUI thread; from any other thread it only
    // writes it to standard error and returns -1. Without an escape button,
    // Esc and closing the box dismiss it (-1) rather than press a button.
    int show(BoxIcon icon, const std::string& caption, const std::string& text, const std::vector<std::string>& buttons,
        int defaultButton, int escapeButton) override;
};
