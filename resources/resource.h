// Identifiers of the plug-in's two dialog templates and of the settings dialog's controls.
// Included by the resource script and by the code that drives the dialogs.
#pragma once

#define IDD_SETTINGS 101 // the settings dialog
#define IDD_STATUS 102   // the status window

#define IDC_DEVICE_LIST 1001      // list box of render devices
#define IDC_VOLUME_ENABLED 1002   // "Enable Volume Control"
#define IDC_GAPLESS 1003          // "Gapless Mode"
#define IDC_DEFAULTS 1005         // "Defaults"
#define IDC_OPEN_STATUS 1018      // "Open Status"
#define IDC_INPUT_SLIDER 1019     // input-size slider, positions 0..3
#define IDC_INPUT_LABEL 1020      // input size in KB
#define IDC_OUTPUT_SLIDER 1021    // output-size slider, positions 0..2
#define IDC_OUTPUT_LABEL 1022     // output size in KB
#define IDC_COUNT_SLIDER 1023     // packet-count slider, positions 2..8
#define IDC_COUNT_LABEL 1024      // packet count
#define IDC_LOG_VOLUME 1025       // "Logarithmic Volume Control"
#define IDC_LOGGING 1026          // "Enable Logging"
#define IDC_ADAPT_FORMATS 1027    // "Adapt formats the device refuses, without losing bits"
#define IDC_HARDWARE_VOLUME 1030  // "Use the device's own volume control when it has one"
#define IDC_RELEASE_ON_PAUSE 1040 // "Let other programs use the device while paused"
#define IDC_PREROLL 1041          // milliseconds of silence before a new pin's first sample
#define IDC_FADE 1042             // milliseconds of the fades at a pause, a seek and a stop
