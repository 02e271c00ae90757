// The settings file "Mirel.ini": its name, sections, keys and defaults, and the
// clamping the screensaver applies to what it reads. Shared by both programs.
#pragma once

// Bare name: the profile functions resolve it to the shared configuration folder.
inline constexpr char SETTINGS_FILE[] = "Mirel.ini";

inline constexpr char SECTION_SS[] = "SS_SECTION";
inline constexpr char SECTION_SETTING[] = "SETTING";

inline constexpr char KEY_SPEED[] = "SPEED";
inline constexpr char KEY_SHADE[] = "SHADE";
inline constexpr char KEY_COLOR_R[] = "ColorR";
inline constexpr char KEY_COLOR_G[] = "ColorG";
inline constexpr char KEY_COLOR_B[] = "ColorB";
inline constexpr char KEY_FILENAME[] = "FILENAME";

// The two programs differ only in the speed default: a fresh installation shows
// 7 in the settings program while the saver runs at 5.
inline constexpr int SAVER_DEFAULT_SPEED = 5;
inline constexpr int SETTINGS_DEFAULT_SPEED = 7;
inline constexpr int DEFAULT_SHADE = 0;
inline constexpr int DEFAULT_COLOR = 255;
inline constexpr char DEFAULT_FILENAME[] = "C:\\XFile\\parasol.x";

// Speed slider range in the settings program; the saver clamps to 1..SPEED_MAX.
inline constexpr int SPEED_MIN = 0;
inline constexpr int SPEED_MAX = 10;
inline constexpr int COLOR_MAX = 255;

inline constexpr int SHADE_SOLID = 0;
inline constexpr int SHADE_WIREFRAME = 1;

// Buffer for reading "FILENAME" whole. A cut path names a different file (or
// none) on Linux, where paths run up to PATH_MAX bytes.
inline constexpr unsigned FILENAME_BUFFER_SIZE = 4096;

// The saver's clamping: above 10 becomes 10 first, then below 1 becomes 1.
inline constexpr int ClampSpeed(int speed) {
    if (speed > SPEED_MAX) speed = SPEED_MAX;
    if (speed < 1) speed = 1;
    return speed;
}

// Anything other than solid (0) or wireframe (1) runs solid.
inline constexpr int ClampShade(int shade) {
    return shade == SHADE_WIREFRAME ? SHADE_WIREFRAME : SHADE_SOLID;
}

inline constexpr int ClampColor(int channel) {
    if (channel > COLOR_MAX) return COLOR_MAX;
    if (channel < 0) return 0;
    return channel;
}
