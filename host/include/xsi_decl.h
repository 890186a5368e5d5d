// Common declarations of the SDK: integer types, the export macros and the enumerations shared by
// every SDK header.
#pragma once

#include <cstdint>

#define SICPPSDKIMPEXP __attribute__((visibility("default")))
#define SICORESDKIMPEXP __attribute__((visibility("default")))

// Marks a function a plug-in exports to the host: C linkage, undecorated name, visible.
#define XSIPLUGINCALLBACK extern "C" __attribute__((visibility("default")))

namespace XSI {

using LONG = std::int32_t;
using ULONG = std::uint32_t;

// Severity of a log message.
enum siSeverityType : LONG {
    siFatalMsg = 1,
    siErrorMsg = 2,
    siWarningMsg = 4,
    siInfoMsg = 8,
    siVerboseMsg = 16,
    siCommentMsg = 32,
};

// Kind of object a reference denotes. 0 means "nothing".
enum siClassID : LONG {
    siUnknownClassID = 0,
    siApplicationID = 1,
    siDesktopID = 2,
    siModelID = 10,
    siX3DObjectID = 11,
    siCustomPropertyID = 20,
    siParameterID = 21,
    siPPGLayoutID = 30,
    siPPGItemID = 31,
    siContextID = 40,
    siPPGEventContextID = 41,
    siPluginRegistrarID = 50,
    siPluginItemID = 51,
    siFilterID = 52,
    siSelectionItemID = 60,
    siSubComponentID = 61,
    siComponentCollectionID = 62,
    siPolygonFaceID = 102,
    siEdgeID = 103,
    siVertexID = 104,
};

// Kinds of selection filter.
enum siFilterType : LONG {
    siFilterUndefined = 0,
    siFilterObject = 1,
    siFilterSubComponentPoint = 2,
    siFilterSubComponentEdge = 3,
    siFilterProperty = 4,
    siFilter3DObject = 5,
    siFilterSubComponentPolygon = 6,
};

// Parameter capability flags.
enum siCapabilities : LONG {
    siAnimatable = 1,
    siReadOnly = 2,
    siPersistable = 4,
    siNotInspectable = 8,
    siSilent = 16,
    siKeyable = 32,
};

// Propagation of a property added with SIAddProp.
enum siSIAddPropPropagation : LONG {
    siDefaultPropagation = 0,
    siObjectPropagation = 1,
    siNodePropagation = 2,
};

}  // namespace XSI
