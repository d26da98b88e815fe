// Navigation.cpp - descriptor lists and the Open dialog on QFileDialog (see Navigation.h).
//
// Owns: the storage behind descriptors (a list of typed byte strings).
#include "Seam.h"
#include "UIPrivate.h"

#include "MacMemory.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

struct OpaqueAEDataStorageType {
    struct Item {
        DescType type;
        std::vector<unsigned char> bytes;
    };
    std::vector<Item> items;
};

namespace {

using Storage = OpaqueAEDataStorageType;

bool isList(const AEDesc* d) {
    return d != nullptr && d->descriptorType == typeAEList && d->dataHandle != nullptr;
}

struct TypeFilter {
    bool typed = false;
    OSType creator = kNavGenericSignature;
    std::vector<OSType> types;
};

OSType typeFromExtension(const std::string& path) {
    static const std::map<std::string, OSType> kTypes = {
        {"png", FOUR_CHAR_CODE("PNGf")},  {"jpg", FOUR_CHAR_CODE("JPEG")},
        {"jpeg", FOUR_CHAR_CODE("JPEG")}, {"gif", FOUR_CHAR_CODE("GIFf")},
        {"tif", FOUR_CHAR_CODE("TIFF")},  {"tiff", FOUR_CHAR_CODE("TIFF")},
        {"bmp", FOUR_CHAR_CODE("BMPf")},  {"pdf", FOUR_CHAR_CODE("PDF ")},
        {"txt", FOUR_CHAR_CODE("TEXT")},
    };
    const std::string ext =
        QFileInfo(QString::fromStdString(path)).suffix().toLower().toStdString();
    auto it = kTypes.find(ext);
    return it != kTypes.end() ? it->second : 0;
}

bool offers(const std::string& path, const TypeFilter& f) {
    const QFileInfo info(QString::fromStdString(path));
    if (info.isDir()) {
        return true;
    }
    if (!info.isFile()) {
        return false;
    }
    if (!f.typed) {
        return true;
    }
    OSType type = 0;
    OSType creator = 0;
    FSSpec spec{};
    FInfo finder{};
    if (toolbox::files::specFromPath(path, spec) == noErr && FSpGetFInfo(&spec, &finder) == noErr &&
        finder.fdType != 0) {
        type = finder.fdType;
        creator = finder.fdCreator;
    } else {
        type = typeFromExtension(path);
    }
    const bool typeOK = std::any_of(f.types.begin(), f.types.end(), [&](OSType t) {
        return t == kNavGenericSignature || (type != 0 && t == type);
    });
    const bool creatorOK =
        f.creator == kNavGenericSignature || creator == 0 || creator == f.creator;
    return typeOK && creatorOK;
}

class TypeFilterModel : public QSortFilterProxyModel {
  public:
    explicit TypeFilterModel(TypeFilter f) : filter(std::move(f)) {}

  protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        auto* model = qobject_cast<QFileSystemModel*>(sourceModel());
        if (model == nullptr) {
            return true;
        }
        const QModelIndex index = model->index(row, 0, parent);
        return offers(model->filePath(index).toStdString(), filter);
    }

  private:
    TypeFilter filter;
};

std::string folderOf(const AEDesc* location) {
    if (location == nullptr || location->dataHandle == nullptr) {
        return {};
    }
    FSRef ref{};
    Size size = 0;
    DescType type = 0;
    if (location->descriptorType == typeAEList) {
        if (AEGetNthPtr(location, 1, typeFSRef, nullptr, &type, &ref, sizeof ref, &size) != noErr) {
            return {};
        }
    } else {
        const auto& items = location->dataHandle->items;
        if (items.empty()) {
            return {};
        }
        AEDescList list{typeAEList, location->dataHandle};
        if (AEGetNthPtr(&list, 1, typeFSRef, nullptr, &type, &ref, sizeof ref, &size) != noErr) {
            return {};
        }
    }
    return ref.path;
}

} // namespace

namespace toolbox::ui::testing {
bool OpenDialogWouldOffer(const std::string& path, bool typed, OSType creator,
                          const std::vector<OSType>& types) {
    return offers(path, TypeFilter{typed, creator, types});
}
} // namespace toolbox::ui::testing

void AEInitializeDesc(AEDesc* desc) {
    if (desc != nullptr) {
        desc->descriptorType = typeNull;
        desc->dataHandle = nullptr;
    }
}

OSErr AECreateDesc(DescType typeCode, const void* dataPtr, Size dataSize, AEDesc* result) {
    if (result == nullptr || dataSize < 0 || (dataPtr == nullptr && dataSize > 0)) {
        return paramErr;
    }
    auto* s = new Storage;
    const auto* b = static_cast<const unsigned char*>(dataPtr);
    s->items.push_back({typeCode, std::vector<unsigned char>(b, b + dataSize)});
    result->descriptorType = typeCode;
    result->dataHandle = s;
    return noErr;
}

OSErr AECreateList(const void* factoringPtr, Size factoredSize, Boolean isRecord,
                   AEDescList* resultList) {
    if (resultList == nullptr || factoringPtr != nullptr || factoredSize != 0 || isRecord) {
        return paramErr;
    }
    resultList->descriptorType = typeAEList;
    resultList->dataHandle = new Storage;
    return noErr;
}

OSErr AEPutPtr(AEDescList* theAEDescList, long index, DescType typeCode, const void* dataPtr,
               Size dataSize) {
    if (!isList(theAEDescList) || dataSize < 0 || (dataPtr == nullptr && dataSize > 0)) {
        return paramErr;
    }
    auto& items = theAEDescList->dataHandle->items;
    if (index < 0 || std::size_t(index) > items.size() + 1) {
        return errAEIllegalIndex;
    }
    const auto* b = static_cast<const unsigned char*>(dataPtr);
    Storage::Item item{typeCode, std::vector<unsigned char>(b, b + dataSize)};
    if (index == 0 || std::size_t(index) == items.size() + 1) {
        items.push_back(std::move(item));
    } else {
        items[std::size_t(index) - 1] = std::move(item);
    }
    return noErr;
}

OSErr AECountItems(const AEDescList* theAEDescList, long* theCount) {
    if (theCount == nullptr) {
        return paramErr;
    }
    *theCount = 0;
    if (!isList(theAEDescList)) {
        return errAEWrongDataType;
    }
    *theCount = long(theAEDescList->dataHandle->items.size());
    return noErr;
}

OSErr AEGetNthPtr(const AEDescList* theAEDescList, long index, DescType desiredType,
                  AEKeyword* theAEKeyword, DescType* typeCode, void* dataPtr, Size maximumSize,
                  Size* actualSize) {
    if (!isList(theAEDescList)) {
        return errAEWrongDataType;
    }
    const auto& items = theAEDescList->dataHandle->items;
    if (index < 1 || std::size_t(index) > items.size()) {
        return errAEIllegalIndex;
    }
    const auto& item = items[std::size_t(index) - 1];
    std::vector<unsigned char> out;
    DescType outType = item.type;
    if (desiredType == typeWildCard || desiredType == item.type) {
        out = item.bytes;
    } else if (desiredType == typeFSS && item.type == typeFSRef &&
               item.bytes.size() == sizeof(FSRef)) {
        FSRef ref;
        std::memcpy(&ref, item.bytes.data(), sizeof ref);
        FSSpec spec{};
        if (FSGetFSSpecFromFSRef(&ref, &spec) != noErr) {
            return errAECoercionFail;
        }
        out.assign(reinterpret_cast<unsigned char*>(&spec),
                   reinterpret_cast<unsigned char*>(&spec) + sizeof spec);
        outType = typeFSS;
    } else if (desiredType == typeFSRef && item.type == typeFSS &&
               item.bytes.size() == sizeof(FSSpec)) {
        FSSpec spec;
        std::memcpy(&spec, item.bytes.data(), sizeof spec);
        FSRef ref{};
        if (FSpMakeFSRef(&spec, &ref) != noErr) {
            return errAECoercionFail;
        }
        out.assign(reinterpret_cast<unsigned char*>(&ref),
                   reinterpret_cast<unsigned char*>(&ref) + sizeof ref);
        outType = typeFSRef;
    } else {
        return errAECoercionFail;
    }
    if (theAEKeyword != nullptr) {
        *theAEKeyword = typeWildCard;
    }
    if (typeCode != nullptr) {
        *typeCode = outType;
    }
    if (actualSize != nullptr) {
        *actualSize = Size(out.size());
    }
    if (dataPtr != nullptr && maximumSize > 0) {
        std::memcpy(dataPtr, out.data(),
                    std::min<std::size_t>(out.size(), std::size_t(maximumSize)));
    }
    return noErr;
}

OSErr AEDisposeDesc(AEDesc* theAEDesc) {
    if (theAEDesc == nullptr) {
        return paramErr;
    }
    delete theAEDesc->dataHandle;
    AEInitializeDesc(theAEDesc);
    return noErr;
}

OSErr NavGetDefaultDialogOptions(NavDialogOptions* dialogOptions) {
    if (dialogOptions == nullptr) {
        return paramErr;
    }
    std::memset(dialogOptions, 0, sizeof *dialogOptions);
    dialogOptions->version = kNavDialogOptionsVersion;
    dialogOptions->dialogOptionFlags = kNavDefaultNavDlogOptions;
    dialogOptions->location = Point{-1, -1};
    return noErr;
}

namespace {

// The types and creator a type list asks for. Only the types the handle really holds are
// read, whatever its count says.
TypeFilter filterFrom(NavTypeListHandle typeList) {
    TypeFilter filter;
    if (typeList == nullptr || *typeList == nullptr) {
        return filter;
    }
    const Size size = GetHandleSize(reinterpret_cast<Handle>(typeList));
    const NavTypeList& list = **typeList;
    const long room = size >= 8 ? (size - 8) / 4 : 0;
    const long count = std::clamp<long>(list.osTypeCount, 0, room);
    filter.typed = true;
    filter.creator = list.componentSignature;
    for (long i = 0; i < count; ++i) {
        filter.types.push_back(list.osType[i]);
    }
    return filter;
}

// The files the user picks in a Qt open dialog; none when it is cancelled.
std::vector<std::string> runOpenDialog(const AEDesc* defaultLocation, const std::string& title,
                                       bool multiple, const TypeFilter& filter) {
    QFileDialog dialog(toolbox::ui::openerWidget());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowTitle(QString::fromStdString(title));
    dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    const std::string folder = folderOf(defaultLocation);
    dialog.setDirectory(folder.empty() ? QDir::currentPath() : QString::fromStdString(folder));
    if (filter.typed) {
        dialog.setProxyModel(new TypeFilterModel(filter));
    }
    std::vector<std::string> chosen;
    if (dialog.exec() == QDialog::Accepted) {
        for (const QString& f : dialog.selectedFiles()) {
            chosen.push_back(f.toStdString());
        }
    }
    return chosen;
}

// The files chosen, from a scripted answer (only those that exist and pass the filter) or
// the dialog; nothing when there is neither a script nor a display to ask on.
std::optional<std::vector<std::string>> chooseFiles(const AEDesc* defaultLocation,
                                                    const std::string& title, bool multiple,
                                                    const TypeFilter& filter) {
    if (auto scripted = toolbox::ui::seam::takeOpenAnswer()) {
        std::vector<std::string> chosen;
        for (const auto& p : *scripted) {
            const QFileInfo info(QString::fromStdString(p));
            if (info.isFile() && offers(p, filter)) {
                chosen.push_back(info.absoluteFilePath().toStdString());
            }
        }
        return chosen;
    }
    if (toolbox::ui::ensureQt()) {
        return runOpenDialog(defaultLocation, title, multiple, filter);
    }
    return std::nullopt;
}

// The chosen files as the reply's list of FSRefs; fnfErr when none of them is there any
// more, as every chosen file may have gone away before it could be named.
OSErr fillReply(const std::vector<std::string>& chosen, NavReplyRecord* reply) {
    AEDescList list;
    AECreateList(nullptr, 0, false, &list);
    for (const auto& path : chosen) {
        FSRef ref{};
        if (FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr) == noErr) {
            AEPutPtr(&list, 0, typeFSRef, &ref, sizeof ref);
        }
    }
    long count = 0;
    AECountItems(&list, &count);
    if (count == 0) {
        AEDisposeDesc(&list);
        return fnfErr;
    }
    reply->selection = list;
    reply->validRecord = true;
    return noErr;
}

} // namespace

OSErr NavGetFile(AEDesc* defaultLocation, NavReplyRecord* reply, NavDialogOptions* dialogOptions,
                 NavEventUPP eventProc, NavPreviewUPP previewProc, NavObjectFilterUPP filterProc,
                 NavTypeListHandle typeList, void*) {
    if (reply == nullptr || eventProc != nullptr || previewProc != nullptr ||
        filterProc != nullptr) {
        return paramErr;
    }
    reply->validRecord = false;
    AEInitializeDesc(&reply->selection);

    NavDialogOptions defaults;
    NavGetDefaultDialogOptions(&defaults);
    const NavDialogOptions& options = dialogOptions != nullptr ? *dialogOptions : defaults;
    const TypeFilter filter = filterFrom(typeList);
    const bool multiple = (options.dialogOptionFlags & kNavAllowMultipleFiles) != 0;
    toolbox::ui::testing::OpenDialogRecord record;
    record.title = toolbox::ui::utf8FromPascal(options.windowTitle);
    record.allowsMultiple = multiple;
    record.typed = filter.typed;
    record.creator = filter.creator;
    record.types = filter.types;
    toolbox::ui::seam::logOpenDialog(record);

    auto answer = chooseFiles(defaultLocation, record.title, multiple, filter);
    if (!answer) {
        return noUserInteractionAllowed;
    }
    std::vector<std::string>& chosen = *answer;
    if (!multiple && chosen.size() > 1) {
        chosen.resize(1);
    }
    if (chosen.empty()) {
        return userCanceledErr;
    }
    return fillReply(chosen, reply);
}

OSErr NavDisposeReply(NavReplyRecord* reply) {
    if (reply == nullptr) {
        return paramErr;
    }
    AEDisposeDesc(&reply->selection);
    reply->validRecord = false;
    return noErr;
}
