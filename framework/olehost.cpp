#include "olehost.h"

#include <olectl.h>
#include <shlwapi.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <utility>

#include "edge.h"
#include "com_util.h"
#include "errors.h"
#include "messages.h"

using Microsoft::WRL::ComPtr;

namespace fw {

// ---- The site ------------------------------------------------------------------------------

// The helpers below are the faces of one site object: each answers its own interface and hands
// QueryInterface and reference counting to the site, so the control sees one object.
HRESULT SiteQueryInterface(OleSite* site, REFIID riid, void** ppv);
ULONG SiteAddRef(OleSite* site);
ULONG SiteRelease(OleSite* site);

namespace {

template <class Interface>
class SiteFace : public Interface {
 public:
  explicit SiteFace(OleSite* site) : site_(site) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return SiteQueryInterface(site_, riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return SiteAddRef(site_); }
  ULONG STDMETHODCALLTYPE Release() override { return SiteRelease(site_); }

 protected:
  OleSite* site_;
};

class ClientSite : public SiteFace<IOleClientSite> {
 public:
  using SiteFace::SiteFace;
  HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** mk) override {
    if (mk) *mk = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
    if (container) *container = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
};

class InPlaceSite : public SiteFace<IOleInPlaceSite> {
 public:
  using SiteFace::SiteFace;
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                             RECT* pos, RECT* clip, OLEINPLACEFRAMEINFO* info) override;
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(const RECT* rect) override;
};

// The frame has no tool bars, menus or status line to share.
class InPlaceFrame : public SiteFace<IOleInPlaceFrame> {
 public:
  using SiteFace::SiteFace;
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBorder(RECT*) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(const BORDERWIDTHS*) override {
    return INPLACE_E_NOTOOLSPACE;
  }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(const BORDERWIDTHS*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, OLEMENUGROUPWIDTHS*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*, WORD) override { return S_FALSE; }
};

class ControlSite : public SiteFace<IOleControlSite> {
 public:
  using SiteFace::SiteFace;
  HRESULT STDMETHODCALLTYPE OnControlInfoChanged() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE LockInPlaceActive(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetExtendedControl(IDispatch** disp) override {
    if (disp) *disp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE OnFocus(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ShowPropertyFrame() override { return E_NOTIMPL; }
};

// An IDispatch that has no type information and no names: the control reaches it by dispatch id.
template <class Base>
class NamelessDispatch : public Base {
 public:
  using Base::Base;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
};

// Ambient properties, as a container that runs its controls (not a designer) gives them: user
// mode, no hatching or grab handles, not UI-dead, no message reflection, not the default
// button, Japanese locale. Everything else is left to the control's own defaults.
class AmbientDispatch : public NamelessDispatch<SiteFace<IDispatch>> {
 public:
  using NamelessDispatch::NamelessDispatch;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    VARIANT value;
    ::VariantInit(&value);
    switch (id) {
      case DISPID_AMBIENT_USERMODE:
        V_VT(&value) = VT_BOOL;
        V_BOOL(&value) = VARIANT_TRUE;
        break;
      case DISPID_AMBIENT_SHOWHATCHING:
      case DISPID_AMBIENT_SHOWGRABHANDLES:
      case DISPID_AMBIENT_UIDEAD:
      case DISPID_AMBIENT_MESSAGEREFLECT:
      case DISPID_AMBIENT_DISPLAYASDEFAULT:
        V_VT(&value) = VT_BOOL;
        V_BOOL(&value) = VARIANT_FALSE;
        break;
      case DISPID_AMBIENT_LOCALEID:
        V_VT(&value) = VT_I4;
        V_I4(&value) = 0x411;
        break;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
    if (!result) return E_POINTER;
    *result = value;
    return S_OK;
  }
};

// The event sink: an object of its own (its IUnknown is not the site's), answering only the
// control's event interface, IDispatch and IUnknown. It shares the site's lifetime.
class EventSink : public NamelessDispatch<SiteFace<IDispatch>> {
 public:
  EventSink(OleSite* site, const IID& events_iid) : NamelessDispatch(site), events_iid_(events_iid) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDispatch && riid != events_iid_) return E_NOINTERFACE;
    *ppv = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override;

 private:
  IID events_iid_;
};

}  // namespace

class OleSite {
 public:
  OleSite(OleControlHost* host, const IID& events_iid)
      : host_(host), client_(this), inplace_site_(this), frame_(this),
        control_site_(this), ambient_(this), sink_(this, events_iid) {}
  OleSite(const OleSite&) = delete;
  OleSite& operator=(const OleSite&) = delete;

  ULONG AddRef() { return ::InterlockedIncrement(&refs_); }
  ULONG Release() {
    LONG refs = ::InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
  }

  HRESULT QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IUnknown* face = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
      face = &client_;
    } else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite) {
      face = static_cast<IOleInPlaceSite*>(&inplace_site_);
    } else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame) {
      face = static_cast<IOleInPlaceFrame*>(&frame_);
    } else if (riid == IID_IOleControlSite) {
      face = &control_site_;
    } else if (riid == IID_IDispatch) {
      face = &ambient_;
    } else {
      return E_NOINTERFACE;
    }
    // Each face's first base is the interface asked for (or one derived from it).
    *ppv = face;
    face->AddRef();
    return S_OK;
  }

  IOleClientSite* Client() { return &client_; }
  IDispatch* Sink() { return &sink_; }
  IOleInPlaceFrame* Frame() { return &frame_; }

  // The host goes before the site when the control keeps a reference after being closed.
  void Detach() {
    host_ = nullptr;
    handlers_.clear();
  }
  OleControlHost* Host() const { return host_; }

  HWND parent = nullptr;
  RECT bounds{};

  void SetHandler(DISPID id, OleEventHandler handler) {
    if (handler) {
      handlers_[id] = std::move(handler);
    } else {
      handlers_.erase(id);
    }
  }
  OleEventHandler Handler(DISPID id) const {
    auto it = handlers_.find(id);
    return it == handlers_.end() ? OleEventHandler() : it->second;
  }

 private:
  ~OleSite() = default;

  LONG refs_ = 1;
  OleControlHost* host_ = nullptr;
  std::map<DISPID, OleEventHandler> handlers_;
  ClientSite client_;
  InPlaceSite inplace_site_;
  InPlaceFrame frame_;
  ControlSite control_site_;
  AmbientDispatch ambient_;
  EventSink sink_;
};

HRESULT SiteQueryInterface(OleSite* site, REFIID riid, void** ppv) {
  return site->QueryInterface(riid, ppv);
}
ULONG SiteAddRef(OleSite* site) { return site->AddRef(); }
ULONG SiteRelease(OleSite* site) { return site->Release(); }

namespace {

HRESULT STDMETHODCALLTYPE InPlaceSite::GetWindow(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = site_->parent;
  return site_->parent ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE InPlaceSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                                        RECT* pos, RECT* clip, OLEINPLACEFRAMEINFO* info) {
  if (!frame || !doc || !pos || !clip || !info) return E_POINTER;
  *frame = site_->Frame();
  (*frame)->AddRef();
  *doc = nullptr;
  *pos = site_->bounds;
  *clip = site_->bounds;
  info->fMDIApp = FALSE;
  info->hwndFrame = site_->parent ? ::GetAncestor(site_->parent, GA_ROOT) : nullptr;
  info->haccel = nullptr;
  info->cAccelEntries = 0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE InPlaceSite::OnPosRectChange(const RECT* rect) {
  if (!rect) return E_POINTER;
  if (OleControlHost* host = site_->Host()) {
    ShowingErrors([&] { host->SetBounds(*rect); });
  } else {
    site_->bounds = *rect;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE InPlaceFrame::GetWindow(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = site_->parent ? ::GetAncestor(site_->parent, GA_ROOT) : nullptr;
  return *hwnd ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                            VARIANT* result, EXCEPINFO*, UINT*) {
  if (result) ::VariantInit(result);
  // A handler may free the host (and with it our reference to the site) while it runs.
  ComPtr<IDispatch> keep_alive(this);
  ShowingErrors([&] {
    if (OleEventHandler handler = site_->Handler(id)) {
      DISPPARAMS none{nullptr, nullptr, 0, 0};
      handler(params ? params : &none);
    }
  });
  return S_OK;
}

}  // namespace

// ---- The host ------------------------------------------------------------------------------

OleControlHost::OleControlHost(const CLSID& clsid, const IID& dispatch_iid, const IID& events_iid)
    : dispatch_iid_(dispatch_iid), events_iid_(events_iid) {
  HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                  IID_IOleObject, reinterpret_cast<void**>(object_.GetAddressOf()));
  if (FAILED(hr)) throw EOleSysError(hr);
  site_ = new OleSite(this, events_iid_);
}

// In the order containers tear a control down: out of its window, events disconnected, closed
// without saving, the site taken back, released.
OleControlHost::~OleControlHost() {
  if (inplace_) inplace_->InPlaceDeactivate();
  inplace_.Reset();
  if (connection_) {
    connection_->Unadvise(cookie_);
    connection_.Reset();
  }
  object_->Close(OLECLOSE_NOSAVE);
  if (site_given_) object_->SetClientSite(nullptr);
  dispatch_.Reset();
  object_.Reset();
  site_->Detach();
  site_->Release();
}

void OleControlHost::SetParent(HWND parent) { site_->parent = parent; }

void OleControlHost::SetBounds(const RECT& bounds) {
  site_->bounds = bounds;
  if (inplace_) {
    RECT rect = bounds;
    OleCheck(inplace_->SetObjectRects(&rect, &rect));
  }
}

void OleControlHost::SetControlData(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  control_data_.assign(bytes, bytes + (data ? size : 0));
}

void OleControlHost::OnEvent(DISPID id, OleEventHandler handler) { site_->SetHandler(id, std::move(handler)); }

Microsoft::WRL::ComPtr<IOleClientSite> OleControlHost::ClientSite() const { return site_->Client(); }

void OleControlHost::Activate() {
  if (active_) return;
  IOleClientSite* client = site_->Client();

  DWORD misc = 0;
  if (FAILED(object_->GetMiscStatus(DVASPECT_CONTENT, &misc))) misc = 0;
  const bool site_first = (misc & OLEMISC_SETCLIENTSITEFIRST) != 0;
  if (site_first && !site_given_) {
    OleCheck(object_->SetClientSite(client));
    site_given_ = true;
  }

  // The stored state is our own control's; another control registered under the class may
  // refuse it. It then starts afresh: only a control that cannot even do that fails.
  ComPtr<IPersistStreamInit> persist;
  if (SUCCEEDED(object_.As(&persist))) {
    bool loaded = false;
    if (!control_data_.empty()) {
      ComPtr<IStream> stream;
      stream.Attach(::SHCreateMemStream(control_data_.data(), static_cast<UINT>(control_data_.size())));
      if (!stream) throw EOleSysError(E_OUTOFMEMORY);
      loaded = SUCCEEDED(persist->Load(stream.Get()));
    }
    if (!loaded) OleCheck(persist->InitNew());
  }

  if (!site_given_) {
    OleCheck(object_->SetClientSite(client));
    site_given_ = true;
  }

  ComPtr<IOleInPlaceObject> inplace;
  if (FAILED(object_.As(&inplace)) || !inplace) {
    throw EOleError(koe::text::kControlActivationFailed);
  }

  RECT rect = site_->bounds;
  OleCheck(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, client, 0, site_->parent, &rect));
  inplace_ = inplace;
  rect = site_->bounds;
  inplace_->SetObjectRects(&rect, &rect);

  // A control without the event connection point simply sends no events.
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IConnectionPoint> point;
  if (SUCCEEDED(object_.As(&container)) && SUCCEEDED(container->FindConnectionPoint(events_iid_, &point))) {
    DWORD cookie = 0;
    if (SUCCEEDED(point->Advise(site_->Sink(), &cookie))) {
      connection_ = point;
      cookie_ = cookie;
    }
  }
  active_ = true;
}

HWND OleControlHost::Handle() const {
  HWND hwnd = nullptr;
  if (inplace_ && FAILED(inplace_->GetWindow(&hwnd))) hwnd = nullptr;
  return hwnd;
}

IDispatch* OleControlHost::Dispatch() {
  if (!dispatch_) {
    HRESULT hr = object_->QueryInterface(dispatch_iid_, reinterpret_cast<void**>(dispatch_.GetAddressOf()));
    if (FAILED(hr)) hr = object_.As(&dispatch_);
    if (FAILED(hr)) throw EOleSysError(hr);
  }
  return dispatch_.Get();
}

void OleControlHost::Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
  EnsureActive();
  IDispatch* dispatch = Dispatch();
  EXCEPINFO excep{};
  UINT arg_error = 0;
  HRESULT hr = dispatch->Invoke(id, IID_NULL, 0, flags, params, result, &excep, &arg_error);
  if (hr == S_OK) return;
  CheckInvoke(hr, excep);  // fills in a deferred description, frees the strings, raises
  // Any status other than S_OK is a failure of the call, also a success code.
  throw EOleSysError(hr);
}

void OleControlHost::Call(DISPID id, const VARIANT* args, std::size_t count, VARIANT* result) {
  // COM wants the positional arguments last first; the copies are shallow, the caller owns them.
  std::vector<VARIANT> reversed(args, args + count);
  std::reverse(reversed.begin(), reversed.end());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(count), 0};
  Variant scratch;
  VARIANT* out = result ? result : scratch.ptr();
  ::VariantInit(out);
  Invoke(id, DISPATCH_METHOD, &params, out);
}

std::int32_t OleControlHost::GetInt(DISPID id) {
  DISPPARAMS params{nullptr, nullptr, 0, 0};
  Variant result;
  Invoke(id, DISPATCH_PROPERTYGET, &params, result.ptr());
  // A control may answer in any numeric type (ours in the property's own width, another maker's
  // as VT_UI2, VT_INT, VT_R8, ...): each is converted, a 16-bit answer from its low part only.
  switch (V_VT(result.ptr())) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT:
    case VT_UINT: case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL:
      break;
    default:  // not a number (a text that reads as one included)
      throw EOleSysError(DISP_E_TYPEMISMATCH);
  }
  Variant number;
  OleCheck(::VariantChangeType(number.ptr(), result.ptr(), 0, VT_I4));  // out of range: DISP_E_OVERFLOW
  return V_I4(number.ptr());
}

void OleControlHost::SetInt(DISPID id, std::int32_t value) {
  VARIANT arg;
  ::VariantInit(&arg);
  V_VT(&arg) = VT_I4;
  V_I4(&arg) = value;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&arg, &named, 1, 1};
  Invoke(id, DISPATCH_PROPERTYPUT, &params, nullptr);
}

}  // namespace fw
