// Our stand-in of the host core library's custom controls: a module that shows host
// controls registers them once with its module handle. Counted so a program can tell
// that it ran and for which module.
#ifndef TSM_HOST_CUSTOM_CONTROLS_H
#define TSM_HOST_CUSTOM_CONTROLS_H

void InitCustomControls(void* module);
// How often InitCustomControls ran, and the module handle of its last call (null before).
int CustomControlsInitCount();
void* CustomControlsModule();

#endif  // TSM_HOST_CUSTOM_CONTROLS_H
