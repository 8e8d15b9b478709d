#include "content/RexImport.h"

#include "platform/MessageBox.h"

namespace corvane {

const char* rexErrorText(int code) {
    switch (code) {
        case 1:
            return "No Error. (You shouldn't show an error text in this case!)";
        case 2:
            return "Operation was aborted by user. (You shouldn't show an error text in this "
                   "case!)";
        case 3:
            return "There is no optional creator-supplied information in this file. (You "
                   "shouldn't show an error text in this case!)";
        case 100:
            return "Couldn't load the REX DLL because there is too little free memory. Quit "
                   "some other application, then try again.";
        case 101:
            return "Couldn't load the REX DLL. The DLL file may be corrupt. Please re-install "
                   "REX, then try again. If it still doesn't work after that, call tech "
                   "support.";
        case 102:
            return "Couldn't load the REX DLL because it is too old. Please update the DLL, "
                   "then try again.";
        case 103:
            return "The REX DLL could not be found. Maybe REX is not installed on this system?";
        case 104:
            return "The REX DLL could not be used because it is newer than this application is "
                   "expecting. Please update the application, or install an older version of "
                   "the REX DLL.";
        case 105:
            return "The operation could not be completed because there is too little free "
                   "memory. Quit some other application, then try again.";
        case 106:
            return "The format of this file is unknown or the file is corrupt.";
        case 107:
            return "This REX2 file was created by a later version of ReCycle and cannot be "
                   "loaded with this version of the REX DLL. Please update the DLL, then try "
                   "again.";
        case 108:
            return "This ReCycle file cannot be used because its \"Bars\" and \"Beats\" "
                   "settings have not been set.";
        case 109:
            return "Couldn't load the REX DLL because it requires a newer version of Windows "
                   "or Mac OS than is installed on this machine.";
        case 200:
            return "The REX DLL has not been loaded. You must call REXLoadDLL() before any "
                   "other function in the REX API.";
        case 201:
            return "The REX DLL is already loaded. You may not nest calls to REXLoadDLL().";
        case 202:
            return "Invalid handle. The handle you supplied to the function does not refer to "
                   "a REX object currently in memory.";
        case 203:
            return "Invalid size. The fSize field of the REXInfo or REXSliceInfo structure was "
                   "not set up correctly. Please set the field to \"sizeof(REXInfo)\" or "
                   "\"sizeof(REXSliceInfo)\" prior to the function call.";
        case 204:
            return "Invalid argument. One of the parameters you supplied is out of range. "
                   "Please check the documentation on this function for more specific help.";
        case 205:
            return "Invalid slice. The slice number you have supplied is out of range. Check "
                   "the fSliceCount member of the REXInfo structure for this REX object, to see "
                   "how many slices this object has.";
        case 206:
            return "Invalid sample rate. The sample rate must be in the range 11025 Hz - "
                   "1000000 Hz, inclusive.";
        case 207:
            return "The buffer you have supplied is too small for this slice. Check the "
                   "documentation on REXRenderSlice() for an example on how to calculate the "
                   "needed buffer size.";
        case 208:
            return "This REX object is being previewed. You must stop the preview by calling "
                   "REXStopPreview() before previewing can be restarted or before changing the "
                   "output sample rate.";
        case 209:
            return "This object is not currently being previewed. You must not call "
                   "REXRenderBatch() or REXStopPreview() on a REX object unless preview has "
                   "been started.";
        case 210:
            return "Invalid tempo. The preview tempo must be in the range 20 BPM - 450 BPM, "
                   "inclusive.";
        default:
            return "Undefined error. If this happens, you've found a bug in the REX DLL.";
    }
}

void importRex(std::FILE* file, SampleMap&) {
    // Loading the library is the first step of every import; here it is never present.
    if (file) std::fclose(file);
    platform::showMessage("REX Error", rexErrorText(kRexDllNotFound));
}

}  // namespace corvane
