#include "app/AboutTexts.h"

#include "gui/ShellOpen.h"

namespace quiltara {

std::string AboutText() {
    return "Quiltara is freeware: you may use it and pass it on freely. If you have found it "
           "helpful, please consider a small donation, by writing to the address above or "
           "through the link below."
           "\r\n\r\n"
           "Faults will be fixed and suggestions considered as time allows. When the map "
           "service changes the format of its image addresses, ask and the maker will try to "
           "follow the change."
           "\r\n\r\n"
           "What it is for: go to a place on the map service, select an area (a town, a state) "
           "while zoomed out, and create one large image of it at a more detailed zoom level by "
           "stitching the map images together. The map you want is often far too big to fit "
           "on one screen."
           "\r\n\r\n"
           "Quiltara is not endorsed by the owner of the map service and will be withdrawn if "
           "that owner objects. It is only a tool to download and stitch images that the map "
           "service makes freely available.";
}

std::string HowToText() {
    return "Please following the numbered steps to get going with this software:"
           "\n\n"
           "1. Press \"1. Goto Google maps...\" to go to the map site, navigate to the place you "
           "want to map, and make sure that the whole area is visible on screen."
           "\n\n"
           "2. Press \"2. Select Area\" and drag a rectangle around the place. From then on the "
           "map is locked, even if it seems to move with the drag."
           "\n\n"
           "3. As soon as the selection is made, a drop-down list of zoom levels appears. Choose "
           "the output zoom; it must be higher than the current zoom shown in the Zoom field at "
           "the top. A higher zoom means more images to download and stitch, and a more "
           "detailed map."
           "\n\n"
           "4. Press \"4. Create Map Image\", choose the file, and let the program download the "
           "images and create the map.";
}

std::string MailLinkCaption() {
    return std::string("Please send your comments and suggestions to ") + kMakerMailAddress;
}

} // namespace quiltara
