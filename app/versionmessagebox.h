#ifndef APP_VERSIONMESSAGEBOX_H
#define APP_VERSIONMESSAGEBOX_H

// The version record's Show(false) renders its text in an information box.
// The record belongs to a library without widgets, so the program installs
// the real box once at start-up.
void InstallVersionInfoMessageBox();

#endif
