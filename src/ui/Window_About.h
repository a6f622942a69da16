// The about window: product, version, build and platform, and the maker.
#pragma once

#include "Window_About_Base.h"

class Window_About : public Window_About_Base {
    Q_OBJECT

public:
    explicit Window_About(QWidget* parent = nullptr);
};
