// The run's error boxes. Every box the run shows marks it failed, so that a
// silent caller learns from the exit code what a person would have read.
#pragma once

// MessageBoxA without owner, the run's Title as caption, system-modal error.
void ShowErrorBox(const char *text);

// MessageBoxA without owner, own caption and style, for the one box that
// does not follow the run's convention.
void ShowErrorBoxStyled(const char *text, const char *caption, unsigned style);

bool ErrorBoxShown();
void ResetErrorBoxShown();
