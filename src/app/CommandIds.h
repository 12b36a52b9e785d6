#pragma once

namespace quiltara {

// The command ids of the main frame's menu and accelerators. Each command's
// QAction carries its id as its object name.
inline constexpr int kIdFileNew = 57600;
inline constexpr int kIdFileOpen = 57601;
inline constexpr int kIdFileSave = 57603;
inline constexpr int kIdFileSaveAs = 57604;
inline constexpr int kIdFilePrintSetup = 57606;
inline constexpr int kIdFilePrint = 57607;
inline constexpr int kIdFilePrintDirect = 57608;
inline constexpr int kIdFilePrintPreview = 57609;
inline constexpr int kIdEditCopy = 57634;
inline constexpr int kIdEditCut = 57635;
inline constexpr int kIdEditPaste = 57637;
inline constexpr int kIdEditUndo = 57643;
inline constexpr int kIdAppAbout = 57664;
inline constexpr int kIdAppExit = 57665;
inline constexpr int kIdNextPane = 57680;
inline constexpr int kIdPrevPane = 57681;
// "Add Tile Source...": a WMTS service's layers become a catalogue source.
inline constexpr int kIdFileAddTileSource = 32771;
// "Proxy...": the proxy of the tile downloads.
inline constexpr int kIdEditProxy = 32775;
// Shows the "Toolbar" panel again after Escape or its close box hid it.
inline constexpr int kIdViewToolbar = 59392;

} // namespace quiltara
