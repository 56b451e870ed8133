#pragma once

class QWidget;

// A Designer form that bench-window-form can show: its name (the .ui file's base name) and a
// function that builds it, by the code uic makes of it, into a new window of the form's class.
struct BenchForm
{
    const char *name;
    QWidget *(*build)();
};

// Every form of the build, ended by an entry with no name; written by CMake from
// window_form_list.cpp.in.
extern const BenchForm benchForms[];
