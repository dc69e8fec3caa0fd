// Our declarations of the parts of PDFium's public C interface that the engine
// uses. No PDFium headers are installed on the systems we build on, so the types,
// record layouts and constants are written out here from the interface's
// documentation. Layouts must match the library's ABI exactly; note that
// `unsigned long` is 64 bits on Linux.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Opaque handles.
typedef struct fpdf_document_t__* FPDF_DOCUMENT;
typedef struct fpdf_page_t__* FPDF_PAGE;
typedef struct fpdf_bitmap_t__* FPDF_BITMAP;
typedef struct fpdf_form_handle_t__* FPDF_FORMHANDLE;
typedef struct fpdf_annotation_t__* FPDF_ANNOTATION;
typedef struct fpdf_widget_t__* FPDF_WIDGET;

typedef int FPDF_BOOL;
typedef unsigned long FPDF_DWORD;
typedef const char* FPDF_BYTESTRING;
typedef const unsigned short* FPDF_WIDESTRING;

// FPDF_InitLibraryWithConfig's record. Version 2 reads up to m_v8EmbedderSlot;
// the later fields are declared so that a zeroed record is complete for any
// version the library may look at.
struct FPDF_LIBRARY_CONFIG {
    int version;
    const char** m_pUserFontPaths;
    void* m_pIsolate;
    unsigned int m_v8EmbedderSlot;
    void* m_pPlatform;   // version 3
    int m_RendererType;  // version 4
};

// Custom file access for FPDF_LoadCustomDocument.
struct FPDF_FILEACCESS {
    unsigned long m_FileLen;
    int (*m_GetBlock)(void* param, unsigned long position, unsigned char* pBuf, unsigned long size);
    void* m_Param;
};

// The pause record of progressive rendering.
struct IFSDK_PAUSE {
    int version;
    FPDF_BOOL (*NeedToPauseNow)(IFSDK_PAUSE* pThis);
    void* user;
};

struct FS_SIZEF {
    float width;
    float height;
};

// Form-fill environment. Version 1 reads the fields up to m_pJsPlatform; the
// rest are declared so that the record has the library's full size.
struct FPDF_FORMFILLINFO;
struct FPDF_SYSTEMTIME {
    unsigned short wYear;
    unsigned short wMonth;
    unsigned short wDayOfWeek;
    unsigned short wDay;
    unsigned short wHour;
    unsigned short wMinute;
    unsigned short wSecond;
    unsigned short wMilliseconds;
};
typedef void (*FPDF_TimerCallback)(int idEvent);

struct FPDF_FORMFILLINFO {
    int version;
    void (*Release)(FPDF_FORMFILLINFO* pThis);
    void (*FFI_Invalidate)(FPDF_FORMFILLINFO* pThis, FPDF_PAGE page, double left, double top,
                           double right, double bottom);
    void (*FFI_OutputSelectedRect)(FPDF_FORMFILLINFO* pThis, FPDF_PAGE page, double left,
                                   double top, double right, double bottom);
    void (*FFI_SetCursor)(FPDF_FORMFILLINFO* pThis, int nCursorType);
    int (*FFI_SetTimer)(FPDF_FORMFILLINFO* pThis, int uElapse, FPDF_TimerCallback lpTimerFunc);
    void (*FFI_KillTimer)(FPDF_FORMFILLINFO* pThis, int nTimerID);
    FPDF_SYSTEMTIME (*FFI_GetLocalTime)(FPDF_FORMFILLINFO* pThis);
    void (*FFI_OnChange)(FPDF_FORMFILLINFO* pThis);
    FPDF_PAGE (*FFI_GetPage)(FPDF_FORMFILLINFO* pThis, FPDF_DOCUMENT document, int nPageIndex);
    FPDF_PAGE (*FFI_GetCurrentPage)(FPDF_FORMFILLINFO* pThis, FPDF_DOCUMENT document);
    int (*FFI_GetRotation)(FPDF_FORMFILLINFO* pThis, FPDF_PAGE page);
    void (*FFI_ExecuteNamedAction)(FPDF_FORMFILLINFO* pThis, FPDF_BYTESTRING namedAction);
    void (*FFI_SetTextFieldFocus)(FPDF_FORMFILLINFO* pThis, FPDF_WIDESTRING value,
                                  FPDF_DWORD valueLen, FPDF_BOOL is_focus);
    void (*FFI_DoURIAction)(FPDF_FORMFILLINFO* pThis, FPDF_BYTESTRING bsURI);
    void (*FFI_DoGoToAction)(FPDF_FORMFILLINFO* pThis, int nPageIndex, int zoomMode,
                             float* fPosArray, int sizeofArray);
    void* m_pJsPlatform;
    // Version 2 and later.
    FPDF_BOOL xfa_disabled;
    void (*FFI_DisplayCaret)(FPDF_FORMFILLINFO* pThis, FPDF_PAGE page, FPDF_BOOL bVisible,
                             double left, double top, double right, double bottom);
    int (*FFI_GetCurrentPageIndex)(FPDF_FORMFILLINFO* pThis, FPDF_DOCUMENT document);
    void (*FFI_SetCurrentPage)(FPDF_FORMFILLINFO* pThis, FPDF_DOCUMENT document, int iCurPage);
    void (*FFI_GotoURL)(FPDF_FORMFILLINFO* pThis, FPDF_DOCUMENT document, FPDF_WIDESTRING wsURL);
    void (*FFI_GetPageViewRect)(FPDF_FORMFILLINFO* pThis, FPDF_PAGE page, double* left, double* top,
                                double* right, double* bottom);
    void (*FFI_PageEvent)(FPDF_FORMFILLINFO* pThis, int page_count, FPDF_DWORD event_type);
    FPDF_BOOL(*FFI_PopupMenu)
    (FPDF_FORMFILLINFO* pThis, FPDF_PAGE page, FPDF_WIDGET hWidget, int menuFlag, float x, float y);
    void* (*FFI_OpenFile)(FPDF_FORMFILLINFO* pThis, int fileFlag, FPDF_WIDESTRING wsURL,
                          const char* mode);
    void (*FFI_EmailTo)(FPDF_FORMFILLINFO* pThis, void* fileHandler, FPDF_WIDESTRING pTo,
                        FPDF_WIDESTRING pSubject, FPDF_WIDESTRING pCC, FPDF_WIDESTRING pBcc,
                        FPDF_WIDESTRING pMsg);
    void (*FFI_UploadTo)(FPDF_FORMFILLINFO* pThis, void* fileHandler, int fileFlag,
                         FPDF_WIDESTRING uploadTo);
    int (*FFI_GetPlatform)(FPDF_FORMFILLINFO* pThis, void* platform, int length);
    int (*FFI_GetLanguage)(FPDF_FORMFILLINFO* pThis, void* language, int length);
    void* (*FFI_DownloadFromURL)(FPDF_FORMFILLINFO* pThis, FPDF_WIDESTRING URL);
    FPDF_BOOL(*FFI_PostRequestURL)
    (FPDF_FORMFILLINFO* pThis, FPDF_WIDESTRING wsURL, FPDF_WIDESTRING wsData,
     FPDF_WIDESTRING wsContentType, FPDF_WIDESTRING wsEncode, FPDF_WIDESTRING wsHeader,
     void* response);
    FPDF_BOOL(*FFI_PutRequestURL)
    (FPDF_FORMFILLINFO* pThis, FPDF_WIDESTRING wsURL, FPDF_WIDESTRING wsData,
     FPDF_WIDESTRING wsEncode);
    void (*FFI_OnFocusChange)(FPDF_FORMFILLINFO* param, FPDF_ANNOTATION annot, int page_index);
    void (*FFI_DoURIActionWithKeyboardModifier)(FPDF_FORMFILLINFO* param, FPDF_BYTESTRING uri,
                                                int modifiers);
};

// FPDF_GetLastError values.
enum : unsigned long {
    FPDF_ERR_SUCCESS = 0,
    FPDF_ERR_UNKNOWN = 1,
    FPDF_ERR_FILE = 2,
    FPDF_ERR_FORMAT = 3,
    FPDF_ERR_PASSWORD = 4,
    FPDF_ERR_SECURITY = 5,
    FPDF_ERR_PAGE = 6,
};

// Bitmap formats.
enum : int {
    FPDFBitmap_Unknown = 0,
    FPDFBitmap_Gray = 1,
    FPDFBitmap_BGR = 2,
    FPDFBitmap_BGRx = 3,
    FPDFBitmap_BGRA = 4,
};

// Rendering flags; the engine only ever sets FPDF_ANNOT.
enum : int {
    FPDF_ANNOT = 0x01,
};

// Progressive rendering status.
enum : int {
    FPDF_RENDER_READY = 0,
    FPDF_RENDER_TOBECONTINUED = 1,
    FPDF_RENDER_DONE = 2,
    FPDF_RENDER_FAILED = 3,
};

void FPDF_InitLibraryWithConfig(const FPDF_LIBRARY_CONFIG* config);
void FPDF_DestroyLibrary();
unsigned long FPDF_GetLastError();

FPDF_DOCUMENT FPDF_LoadCustomDocument(FPDF_FILEACCESS* pFileAccess, FPDF_BYTESTRING password);
void FPDF_CloseDocument(FPDF_DOCUMENT document);
int FPDF_GetPageCount(FPDF_DOCUMENT document);
FPDF_BOOL FPDF_GetFileVersion(FPDF_DOCUMENT doc, int* fileVersion);
int FPDF_GetSecurityHandlerRevision(FPDF_DOCUMENT document);
FPDF_BOOL FPDF_GetPageSizeByIndexF(FPDF_DOCUMENT document, int page_index, FS_SIZEF* size);

FPDF_PAGE FPDF_LoadPage(FPDF_DOCUMENT document, int page_index);
void FPDF_ClosePage(FPDF_PAGE page);

FPDF_BITMAP FPDFBitmap_CreateEx(int width, int height, int format, void* first_scan, int stride);
// Returns FPDF_BOOL in later builds; declared void so that no build's return
// value is read when there is none.
void FPDFBitmap_FillRect(FPDF_BITMAP bitmap, int left, int top, int width, int height,
                         FPDF_DWORD color);
void FPDFBitmap_Destroy(FPDF_BITMAP bitmap);

int FPDF_RenderPageBitmap_Start(FPDF_BITMAP bitmap, FPDF_PAGE page, int start_x, int start_y,
                                int size_x, int size_y, int rotate, int flags, IFSDK_PAUSE* pause);
int FPDF_RenderPage_Continue(FPDF_PAGE page, IFSDK_PAUSE* pause);
void FPDF_RenderPage_Close(FPDF_PAGE page);

FPDF_FORMHANDLE FPDFDOC_InitFormFillEnvironment(FPDF_DOCUMENT document,
                                                FPDF_FORMFILLINFO* formInfo);
void FPDFDOC_ExitFormFillEnvironment(FPDF_FORMHANDLE hHandle);
void FORM_OnAfterLoadPage(FPDF_PAGE page, FPDF_FORMHANDLE hHandle);
void FORM_OnBeforeClosePage(FPDF_PAGE page, FPDF_FORMHANDLE hHandle);
void FPDF_FFLDraw(FPDF_FORMHANDLE hHandle, FPDF_BITMAP bitmap, FPDF_PAGE page, int start_x,
                  int start_y, int size_x, int size_y, int rotate, int flags);

}  // extern "C"

// Layout checks against the documented ABI on LP64 Linux.
static_assert(sizeof(unsigned long) == 8, "the file-access record assumes LP64");
static_assert(sizeof(FPDF_FILEACCESS) == 24);
static_assert(sizeof(IFSDK_PAUSE) == 24);
static_assert(sizeof(FS_SIZEF) == 8);
static_assert(offsetof(FPDF_FORMFILLINFO, m_pJsPlatform) == 16 * 8);
