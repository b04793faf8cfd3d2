// The fixed message of every library status code.
#include "zorbel.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<int, const char *>, 22> messages{{
    {ZO_ERR_NO_ERROR, ""},
    {ZO_ERR_ALREADY_INIT, "Environment already initialized"},
    {ZO_ERR_NOT_INIT, "Environment not initialized"},
    {ZO_ERR_GEN_UUID, "Unable to generate UUID"},
    {ZO_ERR_NO_MEM, "Unable to allocate memory"},
    {ZO_ERR_NO_DIR, "Unable to open directory or file"},
    {ZO_ERR_NOT_AUTH, "Not authorized"},
    {ZO_ERR_XML_PARSE, "Unable to parse XML"},
    {ZO_ERR_XML_EMPTY_DOC, "XML file is empty"},
    {ZO_ERR_XML_NEW_DOC, "xmlNewDoc failed"},
    {ZO_ERR_XML_NEW_NODE, "xmlNewNode failed"},
    {ZO_ERR_XML_CREATE_SUB, "xmlCreateIntSubset failed"},
    {ZO_ERR_XML_SAVE_REG, "xmlSaveFileEnc failed; unable to save registry"},
    {ZO_ERR_XML_INVALID_REG, "Invalid XML"},
    {ZO_ERR_DUP_REC, "Duplicate record"},
    {ZO_ERR_REC_NOT_FOUND, "Record not found"},
    {ZO_ERR_MISSING_FIELD, "Missing required field(s)"},
    {ZO_ERR_MAX_LEN_EXCEEDED, "Max. field length exceeded"},
    {ZO_ERR_MAX_REC_EXCEEDED, "Max. number of records exceeded"},
    {ZO_ERR_FILE_ERR, "File error"},
    {ZO_ERR_LOCKF_ERR, "File lock error"},
    {ZO_ERR_MAX_REC_PER_USER_EXCEEDED, "Max. number of records per user exceeded"},
}};

}  // namespace

extern "C" const char *zo_error(int zo_err_no)
{
    for (const auto &[code, text] : messages)
        if (code == zo_err_no)
            return text;
    return "Unknown error";
}
