// The service catalogue tables, transcribed by hand: identifier order, interface names, Start
// parameters and record members with the lengths the tables give for them.

#include "support/expected_catalogue.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <ostream>
#include <stdexcept>

namespace support {
namespace {

// Record notation: "u8[5] x2, u16, bytes"; "-" none. Lengths: "25", "1 + n", "n".
struct Did_row {
    std::uint16_t id;
    const char* name;
    const char* read_output;
    const char* uds_bytes;
    const char* someip_bytes;
};

// Outputs carry their UDS length: "u8 x2, bytes (2 + n)"; Stop "void" has no record.
struct Rid_row {
    std::uint16_t id;
    const char* name;
    const char* kind;  // "short" or "full"
    const char* start_parameters;
    const char* uds_request;
    const char* start_output;
    const char* request_results_output;
    const char* stop_output;
};

// clang-format off
const Did_row did_rows[] = {
    {0x1183, "DataIdentifier_DNHSomeipDataBusServiceNotAvailable", "u8, bytes", "1 + n", "5 + n"},
    {0x1184, "DataIdentifier_DNHSomeipDataBusServiceErrorValueReceived", "u8, bytes", "1 + n", "5 + n"},
    {0x1185, "DataIdentifier_DNHSomeipDataBusServiceImplausible", "u8, bytes", "1 + n", "5 + n"},
    {0x493E, "DataIdentifier_IntrusionDetectionSystemWhitelistEvent", "u32 x2", "8", "8"},
    {0x493F, "DataIdentifier_IntrusionDetectionSystemTimingBlacklistEvent", "u32 x2", "8", "8"},
    {0x2D92, "DataIdentifier_IntrusionDetectionSystemTimingAbnormalEvent", "u32 x2", "8", "8"},
    {0x2D93, "DataIdentifier_IntrusionDetectionSystemStatisticsAbnormalEvent", "u32 x2", "8", "8"},
    {0x4940, "DataIdentifier_IntrusionDetectionSystemTimingStatusInactivitySensor", "u32 x2", "8", "8"},
    {0x4941, "DataIdentifier_IntrusionDetectionSystemTimingEthernetAnomalies", "u32 x2", "8", "8"},
    {0x4942, "DataIdentifier_IntrusionDetectionSystemTimingQUOR1Anomalies", "u32 x2", "8", "8"},
    {0x15E0, "DataIdentifier_IntrusionDetectionSystemDisableTime", "u32", "4", "4"},
    {0x4943, "DataIdentifier_IntrusionDetectionSystemNumberOfAlerts", "u32", "4", "4"},
    {0x4944, "DataIdentifier_IntrusionDetectionSystemGetLog", "u8[64]", "64", "68"},
    {0x1176, "DataIdentifier_IDSSomeipDataBusServiceNotAvailable", "u8, bytes", "1 + n", "5 + n"},
    {0x1177, "DataIdentifier_IDSSomeipDataBusServiceErrorValueReceived", "u8, bytes", "1 + n", "5 + n"},
    {0x1178, "DataIdentifier_IDSSomeipDataBusServiceImplausible", "u8, bytes", "1 + n", "5 + n"},
    {0x1179, "DataIdentifier_IDSTazuHttpDataBusServiceNotAvailable", "u8, bytes", "1 + n", "5 + n"},
    {0x117A, "DataIdentifier_IDSTazuHttpDataBusServiceImplausible", "u8, bytes", "1 + n", "5 + n"},
    {0x117B, "DataIdentifier_IDSTazuHttpDataBusServiceServiceInccorectMissingEncoding", "u8, bytes", "1 + n", "5 + n"},
    {0x49BE, "DataIdentifier_StorageActiveDriverWarnings", "u8 x2, bytes", "2 + n", "6 + n"},
    {0x49BF, "DataIdentifier_StorageFilteredDriverWarnings", "u8 x2, bytes", "2 + n", "6 + n"},
    {0x49C0, "DataIdentifier_StorageDriverWarningsHistory", "u8 x2, bytes", "2 + n", "6 + n"},
    {0x0809, "DataIdentifier_PncCauseFailureInstallationRootCertificateContainer", "u8 x5", "5", "5"},
    {0x080A, "DataIdentifier_PncCauseFailureCommunicationErrorReportingUnvalidatableRootCertificates", "u8 x6", "6", "6"},
    {0x080B, "DataIdentifier_PncCauseFailureInstallationVehicleCertificate", "u8 x9", "9", "9"},
    {0x080C, "DataIdentifier_PncCauseFailureCommunicationErrorInstallationVehicleCertificate", "u8 x7", "7", "7"},
    {0x080D, "DataIdentifier_PncCauseFailureCommunicationErrorRevocationVehicleCertificate", "u8", "1", "1"},
    {0x0808, "DataIdentifier_PncCauseFailureInstallationContract", "u8 x6", "6", "6"},
    {0x0807, "DataIdentifier_PncCauseFailureCommunicationErrorRevocationContract", "u8", "1", "1"},
    {0x15F0, "DataIdentifier_PncCauseFailureCommunicationErrorDiagnosticPush", "u8 x4", "4", "4"},
    {0x0806, "DataIdentifier_PncCauseFailureInstallationRootCertificateContainerLifetime", "u16 x5", "10", "10"},
    {0x0805, "DataIdentifier_PncCauseFailureCommunicationErrorReportingUnvalidatableRootCertificatesLifetime", "u16 x6", "12", "12"},
    {0x0804, "DataIdentifier_PncCauseFailureInstallationVehicleCertificateLifetime", "u16 x9", "18", "18"},
    {0x0803, "DataIdentifier_PncCauseFailureCommunicationErrorInstallationVehicleCertificateLifetime", "u16 x7", "14", "14"},
    {0x0802, "DataIdentifier_PncCauseFailureCommunicationErrorRevocationVehicleCertificateLifetime", "u16", "2", "2"},
    {0x080E, "DataIdentifier_PncCauseFailureInstallationContractLifetime", "u16 x6", "12", "12"},
    {0x0801, "DataIdentifier_PncCauseFailureCommunicationErrorRevocationContractLifetime", "u16", "2", "2"},
    {0x15F1, "DataIdentifier_PncCauseFailureCommunicationErrorDiagnosticPushLifetime", "u16 x4", "8", "8"},
    {0x14A0, "DataIdentifier_PositioningStatusInputs", "u8 x11", "11", "11"},
    {0x14A1, "DataIdentifier_PositioningStatusOutputs", "u8 x3", "3", "3"},
    {0x14A2, "DataIdentifier_PositioningMMPos", "u8[5] x2, u8[3], u8, u8[3], u8 x6, u16", "25", "41"},
    {0x14A3, "DataIdentifier_PositioningStatusSystem", "u8 x4, u16 x4, u8 x2", "14", "14"},
    {0x1190, "DataIdentifier_BDPSomeipDataBusServiceNotAvailable", "u8, bytes", "1 + n", "5 + n"},
    {0x1191, "DataIdentifier_BDPSomeipDataBusServiceErrorValueReceived", "u8, bytes", "1 + n", "5 + n"},
    {0x1192, "DataIdentifier_BDPSomeipDataBusServiceImplausible", "u8, bytes", "1 + n", "5 + n"},
    {0x0401, "DataIdentifier_NumberOfECUResets", "u8, bytes", "1 + n", "5 + n"},
    {0x17F0, "DataIdentifier_EMMCStatisticsAdaptive", "u8, bytes", "1 + n", "5 + n"},
    {0x17F2, "DataIdentifier_EMMCBudgetExceedance", "u8", "1", "1"},
    {0x0102, "DataIdentifier_BasicSettingsStatus", "u8", "1", "1"},
    {0x0261, "DataIdentifier_OBDDrivingCycleSetOnce", "u8", "1", "1"},
    {0x0447, "DataIdentifier_Timezone", "u8[9]", "9", "13"},
    {0x1186, "DataIdentifier_TMSPSomeipDataBusServiceNotAvailable", "u8, bytes", "1 + n", "5 + n"},
    {0x1187, "DataIdentifier_TMSPSomeipDataBusServiceErrorValueReceived", "u8, bytes", "1 + n", "5 + n"},
    {0x1188, "DataIdentifier_TMSPSomeipDataBusServiceImplausible", "u8, bytes", "1 + n", "5 + n"},
    {0xF186, "DataIdentifier_ActiveDiagnosticSession", "u8", "1", "1"},
    {0xF187, "DataIdentifier_OvoSparePartNumber", "u8[11]", "11", "15"},
    {0xF189, "DataIdentifier_OvoApplicationSoftwareVersionNumber", "u32", "4", "4"},
    {0xF190, "DataIdentifier_VehicleIdentificationNumber", "u8[17]", "17", "21"},
    {0xF195, "DataIdentifier_SystemSupplierECUSoftwareVersionNumber", "u8[48]", "48", "52"},
    {0xF197, "DataIdentifier_OvoSystemNameOrEngineType", "u8[13]", "13", "17"},
    {0xF1AA, "DataIdentifier_OvoWorkshopSystemName", "u8[5]", "5", "9"},
    {0xF1B4, "DataIdentifier_TechnicalSpecificationsVersion", "u8 x26", "26", "26"},
    {0xF1AF, "DataIdentifier_AUTOSARStandardApplicationSoftwareIdentification", "bytes", "n", "4 + n"},
    {0x0189, "DataIdentifier_OvoLogicalBlockDowngradeProtectionVersions", "u8, u8[8] x52", "417", "625"},
    {0x0407, "DataIdentifier_OvoLogicalSoftwareBlockCounterOfProgrammingAttempts", "u16 x52", "104", "104"},
    {0x040F, "DataIdentifier_OvoLogicalSoftwareBlockLockValue", "u16 x52", "104", "104"},
    {0x0448, "DataIdentifier_ProgrammingPreconditions", "u8, bytes", "1 + n", "5 + n"},
    {0xF15B, "DataIdentifier_FingerprintAndProgrammingDateOfLogicalSoftwareBlocks", "u8[10] x52", "520", "728"},
    {0xF1AB, "DataIdentifier_OvoLogicalSoftwareBlockVersion", "u32 x52", "208", "208"},
    {0xF1DF, "DataIdentifier_ECUProgrammingInformation", "u8", "1", "1"},
    {0xF1B6, "DataIdentifier_SystemIdentification", "u16 x2", "4", "4"},
    {0x01A7, "DataIdentifier_SoftwareVendor", "u8, u16", "3", "3"},
    {0x01AF, "DataIdentifier_SoftwareCompositionListIdentification", "u8, u16, bytes", "3 + n", "7 + n"},
    {0x0441, "DataIdentifier_SoftwareCompositionListNr", "u8[8] x15", "120", "180"},
    {0xF19E, "DataIdentifier_ASAMODXFileIdentifier", "bytes", "n", "4 + n"},
    {0xF1A2, "DataIdentifier_ASAMODXFileVersion", "u8[6]", "6", "10"},
    {0x0174, "DataIdentifier_UnlockStatusOfECUOfProtectionOfVehicleDiagnosis", "u8 x4", "4", "4"},
    {0x3C0E, "DataIdentifier_ModeOfProtectionOfVehicleDiagnosis", "u8", "1", "1"},
    {0xF1D5, "DataIdentifier_FDSProjectData", "u8, u32, u8 x2", "7", "7"},
    {0x0411, "DataIdentifier_DataBlockDescription", "u8, u16, u8[12], u32", "19", "23"},
    {0xF1B1, "DataIdentifier_OvoApplicationDataSetIdentification", "u16, u32, u8 x7", "13", "13"},
    {0xF1B3, "DataIdentifier_OvoDataSetName", "u8, u16, u8[12]", "15", "19"},
    {0xF17C, "DataIdentifier_OvoKELDAIdentificationString", "u8[7], u8[8], u32 x2", "23", "31"},
};

const Rid_row rid_rows[] = {
    {0x0318, "RoutineService_DriverNotificationHandlerWarnIDTrigger", "full", "u16, u8, u16, u8, u16, u8", "9", "u8 (1)", "u8 (1)", "u8 (1)"},
    {0x0301, "RoutineService_HvlmResetChargingProfiles", "full", "u8[3]", "3", "u8 (1)", "u8 (1)", "u8 (1)"},
    {0x0300, "RoutineService_HvlmResetChargingStatistics", "full", "u8[3]", "3", "u8 (1)", "u8 (1)", "u8 (1)"},
    {0x03E7, "RoutineService_ResetToFactorySetting", "full", "u8[3]", "3", "u8 (1)", "u8 (1)", "void"},
    {0x0366, "RoutineService_ResetOfAllAdaptions", "full", "u8[3]", "3", "u8 (1)", "u8 (1)", "void"},
    {0x045A, "RoutineService_ClearUserDefinedDTCInformation", "full", "u8, u8, u8", "3", "u8 (1)", "u8 (1)", "void"},
    {0x0203, "RoutineService_CheckProgrammingPreconditions", "short", "-", "0", "bytes (n)", "-", "-"},
    {0xFF00, "RoutineService_EraseMemory", "short", "u8, u8", "2", "u8 (1)", "-", "-"},
    {0x0202, "RoutineService_CheckMemory", "short", "bytes", "n", "u8 (1)", "-", "-"},
    {0xFF01, "RoutineService_CheckProgrammingDependencies", "short", "-", "0", "u8 (1)", "-", "-"},
    {0x0544, "RoutineService_VerifyPartialSoftwareChecksum", "short", "u16, bytes", "2 + n", "u8 (1)", "-", "-"},
    {0x065E, "RoutineService_ClearDowngradeProtectionData", "full", "-", "0", "u8 (1)", "u8 (1)", "u8 (1)"},
    {0xC010, "RoutineService_StartUpdate", "full", "u8, u8, bytes", "2 + n", "u8 (1)", "u8 x4, bytes (4 + n)", "void"},
    {0xC00E, "RoutineService_CheckUpdate", "full", "u8", "1", "u8 (1)", "u8 x2 (2)", "void"},
    {0x0253, "RoutineService_CalculateIntegrityValidationData", "short", "u8, u8", "2", "u8 x2, bytes (2 + n)", "-", "-"},
    {0x0254, "RoutineService_CalculateIndividualHashValue", "short", "u8, u8, u16", "4", "u8 x3, u16, bytes (5 + n)", "-", "-"},
    {0x029A, "RoutineService_CalculateModuleHashValue", "full", "u8, u8", "2", "u8 x3 (3)", "u8 x5, bytes (5 + n)", "void"},
    {0xC004, "RoutineService_UnlockProtectionOfVehicleDiagnosis", "short", "bytes", "n", "u8 x2 (2)", "-", "-"},
    {0xC005, "RoutineService_LockProtectionOfVehicleDiagnosis", "short", "-", "0", "u8 x2 (2)", "-", "-"},
    {0xC007, "RoutineService_ResetProtectionOfVehicleDiagnosis", "short", "bytes", "n", "u8 x2 (2)", "-", "-"},
    {0xC008, "RoutineService_RequestDataOfProtectionOfVehicleDiagnosis", "short", "u8", "1", "u8, bytes (1 + n)", "-", "-"},
    {0xC009, "RoutineService_RequestLoggingDataOfProtectionOfVehicleDiagnosis", "short", "u8", "1", "u8, u16, bytes (3 + n)", "-", "-"},
    {0xC011, "RoutineService_BeginOfWritingOfSecuredDataOfProtectionOfVehicleDiagnosis", "short", "bytes", "n", "u8 x2 (2)", "-", "-"},
    {0xC012, "RoutineService_EndOfWritingSecuredDataOfProtectionOfVehicleDiagnosis", "short", "u8", "1", "u8 x2 (2)", "-", "-"},
    {0x06A9, "RoutineService_RequestConfigurationOfProtectionOfVehicleDiagnosis", "short", "u8", "1", "u8 x2, u16, bytes (4 + n)", "-", "-"},
    {0x0F02, "RoutineService_CalculateConfigurationStateFingerprintOfProtectionOfVehicleDiagnosis", "short", "u8, u16, bytes", "3 + n", "u8 x2, u8[32] (34)", "-", "-"},
};
// clang-format on

// Fixed length of a record (its byte sequence empty); SOME/IP adds 4 per array and sequence.
std::size_t length_of(const Layout& layout, bool someip) {
    std::size_t length = 0;
    for (const Field& field : layout) {
        const bool has_length_field = field.type != Field::Type::u8 &&
                                      field.type != Field::Type::u16 &&
                                      field.type != Field::Type::u32;
        length += field.size + (someip && has_length_field ? 4 : 0);
    }
    return length;
}

Layout parse_layout(const std::string& text) {
    static const std::map<std::string, Field> scalars{{"u8", {Field::Type::u8, 1}},
                                                      {"u16", {Field::Type::u16, 2}},
                                                      {"u32", {Field::Type::u32, 4}},
                                                      {"bytes", {Field::Type::bytes, 0}}};
    Layout layout;
    for (std::size_t start = 0, comma = 0; text != "-" && comma != std::string::npos;
         start = comma + 2) {
        comma = text.find(", ", start);
        std::string item = text.substr(start, comma - start);
        const auto times = item.find(" x");
        const std::size_t count =
            times == std::string::npos ? 1 : std::stoul(item.substr(times + 2));
        item = item.substr(0, times);
        layout.insert(layout.end(), count,
                      item.rfind("u8[", 0) == 0
                          ? Field{Field::Type::array, std::stoul(item.substr(3))}
                          : scalars.at(item));
    }
    return layout;
}

// A length the table gives ("25", "1 + n", "n") against the members.
void check_length(const std::string& given, const Layout& layout, bool someip, const char* name) {
    const std::size_t fixed = given == "n" ? 0 : std::stoul(given);
    if (fixed != length_of(layout, someip) || (given.back() == 'n') != ends_with_bytes(layout)) {
        throw std::logic_error(std::string("lengths disagree with the members of ") + name);
    }
}

// "u8 x2, bytes (2 + n)": the members, checked against the UDS length in parentheses.
Layout parse_output(const std::string& cell, const char* name) {
    const auto open = cell.find(" (");
    Layout layout = parse_layout(cell.substr(0, open));
    check_length(cell.substr(open + 2, cell.size() - open - 3), layout, false, name);
    return layout;
}

std::vector<Expected_identifier> build_dids() {
    std::vector<Expected_identifier> table;
    for (const Did_row& row : did_rows) {
        const Layout output = parse_layout(row.read_output);
        check_length(row.uds_bytes, output, false, row.name);
        check_length(row.someip_bytes, output, true, row.name);
        table.push_back({row.id, row.name, Kind::data_identifier, {}, output, {}, {}});
    }
    return table;
}

std::vector<Expected_identifier> build_rids() {
    std::vector<Expected_identifier> table;
    for (const Rid_row& row : rid_rows) {
        const bool full = std::string(row.kind) == "full";
        const Layout parameters = parse_layout(row.start_parameters);
        check_length(row.uds_request, parameters, false, row.name);
        std::optional<Layout> results, stop;
        if (full) {
            results = parse_output(row.request_results_output, row.name);
            if (std::string(row.stop_output) != "void") {
                stop = parse_output(row.stop_output, row.name);
            }
        }
        table.push_back({row.id, row.name, full ? Kind::full_routine : Kind::short_routine,
                         parameters, parse_output(row.start_output, row.name), results, stop});
    }
    return table;
}

const Expected_identifier& find(const std::vector<Expected_identifier>& table, std::uint16_t id) {
    const auto it = std::find_if(table.begin(), table.end(),
                                 [id](const Expected_identifier& e) { return e.id == id; });
    if (it == table.end())
        throw std::out_of_range("identifier not in the catalogue");
    return *it;
}

}  // namespace

std::string Expected_identifier::namespace_name() const {
    char text[8];
    std::snprintf(text, sizeof text, "%c_%04x", is_routine() ? 'r' : 'd', id);
    return text;
}

std::string Expected_identifier::service_id() const {
    return "orlak::services::diag::" + namespace_name() + "::" + interface_name;
}

const std::vector<Expected_identifier>& expected_dids() {
    static const auto table = build_dids();
    return table;
}

const std::vector<Expected_identifier>& expected_rids() {
    static const auto table = build_rids();
    return table;
}

const Expected_identifier& expected_did(std::uint16_t id) {
    return find(expected_dids(), id);
}

const Expected_identifier& expected_rid(std::uint16_t id) {
    return find(expected_rids(), id);
}

std::vector<std::uint16_t> ids_of(const std::vector<Expected_identifier>& table) {
    std::vector<std::uint16_t> ids;
    for (const auto& entry : table)
        ids.push_back(entry.id);
    return ids;
}

bool ends_with_bytes(const Layout& layout) {
    return !layout.empty() && layout.back().type == Field::Type::bytes;
}

void PrintTo(const Expected_identifier& entry, std::ostream* out) {
    char id[8];
    std::snprintf(id, sizeof id, "0x%04X", entry.id);
    *out << id << ' ' << entry.interface_name;
}

}  // namespace support
