// PAPPL 1.3 asks one authentication question for printing and for
// administration alike; with its own PAM service set, even Print-Job would
// need a password. This callback answers per operation: print requests pass,
// the rest are checked against PAM here.
#include "app/server/access.h"

#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app/job/formats.h"
#include "app/job/process.h"

namespace {

// What a client of a shared queue may do without a password: submit and
// follow jobs, and ask about the printers.
constexpr ipp_op_t kOpenOperations[] = {IPP_OP_PRINT_JOB,
                                        IPP_OP_VALIDATE_JOB,
                                        IPP_OP_CREATE_JOB,
                                        IPP_OP_SEND_DOCUMENT,
                                        IPP_OP_CLOSE_JOB,
                                        IPP_OP_GET_JOB_ATTRIBUTES,
                                        IPP_OP_GET_JOBS,
                                        IPP_OP_GET_DOCUMENT_ATTRIBUTES,
                                        IPP_OP_GET_DOCUMENTS,
                                        IPP_OP_GET_PRINTER_ATTRIBUTES,
                                        IPP_OP_GET_PRINTERS,
                                        IPP_OP_GET_SYSTEM_ATTRIBUTES,
                                        IPP_OP_CREATE_JOB_SUBSCRIPTIONS,
                                        IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS,
                                        IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES,
                                        IPP_OP_GET_SUBSCRIPTIONS,
                                        IPP_OP_RENEW_SUBSCRIPTION,
                                        IPP_OP_CANCEL_SUBSCRIPTION,
                                        IPP_OP_GET_NOTIFICATIONS};

// What only a job's owner, or an administrator, may do to it. PAPPL 1.3 does
// not look at the owner itself.
constexpr ipp_op_t kOwnerOperations[] = {IPP_OP_CANCEL_JOB, IPP_OP_HOLD_JOB, IPP_OP_RELEASE_JOB};

template <size_t N>
bool is_one_of(ipp_op_t operation, const ipp_op_t (&operations)[N]) {
  for (ipp_op_t listed : operations)
    if (operation == listed) return true;
  return false;
}

// PAM asks for the password (and maybe the name again); answers are freed by PAM.
int answer_pam(int count, const pam_message** messages, pam_response** responses, void* data) {
  const char* password = static_cast<const char*>(data);
  auto* answers =
      static_cast<pam_response*>(std::calloc(static_cast<size_t>(count), sizeof **responses));
  if (answers == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i)
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF ||
        messages[i]->msg_style == PAM_PROMPT_ECHO_ON)
      answers[i].resp = strdup(password);
  *responses = answers;
  return PAM_SUCCESS;
}

bool pam_accepts(const std::string& service, const char* user, const char* password) {
  pam_conv conversation{answer_pam, const_cast<char*>(password)};
  pam_handle_t* pam = nullptr;
  if (pam_start(service.c_str(), user, &conversation, &pam) != PAM_SUCCESS) return false;
  int status = pam_authenticate(pam, PAM_SILENT);
  if (status == PAM_SUCCESS) status = pam_acct_mgmt(pam, PAM_SILENT);
  pam_end(pam, status);
  return status == PAM_SUCCESS;
}

// Who administers when -o admin-group names no group: CUPS's SystemGroup as
// Debian ships it (lpadmin), and the groups CUPS adds where they exist.
constexpr const char* kDefaultAdminGroups[] = {"lpadmin", "sys", "wheel"};

// Clients are served on several threads: the reentrant lookups.
bool in_group(const char* user, gid_t primary_group, const char* name) {
  char buffer[16384];
  group entry{};
  group* found = nullptr;
  if (::getgrnam_r(name, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
    return false;
  if (entry.gr_gid == primary_group) return true;
  for (char** member = entry.gr_mem; *member != nullptr; ++member)
    if (std::strcmp(*member, user) == 0) return true;
  return false;
}

bool is_admin(const char* user, const std::string& group) {
  char buffer[16384];
  passwd account{};
  passwd* found = nullptr;
  if (::getpwnam_r(user, &account, buffer, sizeof buffer, &found) != 0 || found == nullptr)
    return false;
  if (account.pw_uid == 0) return true;
  if (!group.empty()) return in_group(user, account.pw_gid, group.c_str());
  for (const char* name : kDefaultAdminGroups)
    if (in_group(user, account.pw_gid, name)) return true;
  return false;
}

// The web pages may be looked at by anyone the server serves, except the log;
// their forms, which change things, are posted.
bool is_page_view(pappl_client_t* client) {
  const http_state_t method = papplClientGetMethod(client);
  return (method == HTTP_STATE_GET || method == HTTP_STATE_HEAD) &&
         !std::string_view(papplClientGetURI(client)).starts_with("/log");
}

// What a request's HTTP Basic credentials say about its sender.
struct sender {
  bool credentials = false;  // it sent some
  bool accepted = false;     // PAM accepted them
  bool admin = false;        // ... and the user is an administrator
  std::string user;
};

sender identify(pappl_client_t* client, const admin_policy& policy) {
  sender who;
  const char* header = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
  constexpr std::string_view kBasic = "Basic ";
  if (header == nullptr || !std::string_view(header).starts_with(kBasic)) return who;
  who.credentials = true;
  char credentials[512];
  int length = sizeof credentials;
  httpDecode64_2(credentials, &length, header + kBasic.size());
  char* colon = std::strchr(credentials, ':');
  if (colon == nullptr) return who;
  *colon = '\0';
  who.user = credentials;
  who.accepted = pam_accepts(policy.service, credentials, colon + 1);
  who.admin = who.accepted && is_admin(credentials, policy.group);
  papplLogClient(client, PAPPL_LOGLEVEL_INFO, "User '%s' %s.", credentials,
                 who.admin      ? "authenticated as an administrator"
                 : who.accepted ? "authenticated"
                                : "refused");
  return who;
}

bool on_this_host(pappl_client_t* client) {
  return httpAddrLocalhost(httpGetAddress(papplClientGetHTTP(client)));
}

// A job's owner is who PAPPL recorded as its user: the requesting-user-name
// of the client that printed it. As in CUPS, a client on this host is taken
// at that name, one elsewhere must authenticate, and anyone else is asked for
// an administrator's credentials, where there are passwords.
http_status_t owner_or_admin(pappl_client_t* client, const sender& who, bool passwords) {
  const http_status_t refused = passwords ? HTTP_STATUS_UNAUTHORIZED : HTTP_STATUS_FORBIDDEN;
  if (who.admin) return HTTP_STATUS_CONTINUE;
  if (who.credentials && !who.accepted) return HTTP_STATUS_UNAUTHORIZED;
  std::string user = who.user;
  if (!who.credentials && on_this_host(client)) {
    const char* name = ippGetString(
        ippFindAttribute(papplClientGetRequest(client), "requesting-user-name", IPP_TAG_NAME), 0,
        nullptr);
    if (name != nullptr) user = name;
  }
  if (user.empty()) return refused;
  pappl_job_t* job = papplClientGetJob(client);
  if (job == nullptr) return HTTP_STATUS_CONTINUE;  // PAPPL answers that there is none
  const char* owner = papplJobGetUsername(job);
  if (owner != nullptr && user == owner) return HTTP_STATUS_CONTINUE;
  return who.credentials ? HTTP_STATUS_FORBIDDEN : refused;
}

http_status_t authorize_job_operation(pappl_client_t* client, const sender& who, bool passwords) {
  const http_status_t status = owner_or_admin(client, who, passwords);
  // PAPPL 1.3.1 ends the whole server when it releases a job (made with
  // Create-Job) whose document has not come yet: nobody may.
  pappl_job_t* job = papplClientGetJob(client);
  if (status == HTTP_STATUS_CONTINUE && papplClientGetOperation(client) == IPP_OP_RELEASE_JOB &&
      job != nullptr && papplJobGetFilename(job) == nullptr) {
    papplLogClient(client, PAPPL_LOGLEVEL_WARN, "Job %d has no document to release.",
                   papplJobGetID(job));
    return HTTP_STATUS_FORBIDDEN;
  }
  return status;
}

http_status_t authorize(pappl_client_t* client, const char* /*group*/, gid_t /*group_id*/,
                        void* data) {
  const ipp_op_t operation = papplClientGetOperation(client);
  if (operation == IPP_OP_PRINT_JOB || operation == IPP_OP_SEND_DOCUMENT) {
    end_document_with_request(client);
    if (!document_printable(client)) return HTTP_STATUS_UNSUPPORTED_MEDIATYPE;
  }
  if (is_one_of(operation, kOpenOperations) || is_page_view(client)) return HTTP_STATUS_CONTINUE;
  const auto& policy = *static_cast<const admin_policy*>(data);
  const bool passwords = !policy.service.empty();
  const sender who = passwords ? identify(client, policy) : sender{};
  if (is_one_of(operation, kOwnerOperations))
    return authorize_job_operation(client, who, passwords);
  if (!passwords) return on_this_host(client) ? HTTP_STATUS_CONTINUE : HTTP_STATUS_FORBIDDEN;
  if (!who.accepted) return HTTP_STATUS_UNAUTHORIZED;
  return who.admin ? HTTP_STATUS_CONTINUE : HTTP_STATUS_FORBIDDEN;
}

http_status_t authorize_cb(pappl_client_t* client, const char* group, gid_t group_id, void* data) {
  return guard_callback(HTTP_STATUS_SERVER_ERROR,
                        [&] { return authorize(client, group, group_id, data); });
}

}  // namespace

void set_admin_policy(pappl_system_t* system, const admin_policy* policy) {
  papplSystemSetAuthCallback(system, "Basic", authorize_cb, const_cast<admin_policy*>(policy));
}
