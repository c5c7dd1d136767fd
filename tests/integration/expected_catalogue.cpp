// The catalogue of served identifiers, transcribed by hand from the service catalogue tables
// (identifier order, interface names, Start parameters, record members and their lengths).

#include "integration/expected_catalogue.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <stdexcept>

namespace integration {
namespace {

struct Did_row {
    std::uint16_t id;
    const char* name;
    const char* read_output;
    std::size_t uds_length;     // with an empty byte sequence
    std::size_t someip_length;  // likewise
};

// List index order of get_did_info.
const Did_row did_rows[] = {
    {0x1183, "DataIdentifier_DNHSomeipDataBusServiceNotAvailable", "u8, bytes", 1, 5},
    {0x1184, "DataIdentifier_DNHSomeipDataBusServiceErrorValueReceived", "u8, bytes", 1, 5},
    {0x1185, "DataIdentifier_DNHSomeipDataBusServiceImplausible", "u8, bytes", 1, 5},
    {0x493E, "DataIdentifier_IntrusionDetectionSystemWhitelistEvent", "u32 x2", 8, 8},
    {0x493F, "DataIdentifier_IntrusionDetectionSystemTimingBlacklistEvent", "u32 x2", 8, 8},
    {0x2D92, "DataIdentifier_IntrusionDetectionSystemTimingAbnormalEvent", "u32 x2", 8, 8},
    {0x2D93, "DataIdentifier_IntrusionDetectionSystemStatisticsAbnormalEvent", "u32 x2", 8, 8},
    {0x4940, "DataIdentifier_IntrusionDetectionSystemTimingStatusInactivitySensor", "u32 x2", 8, 8},
    {0x4941, "DataIdentifier_IntrusionDetectionSystemTimingEthernetAnomalies", "u32 x2", 8, 8},
    {0x4942, "DataIdentifier_IntrusionDetectionSystemTimingQUOR1Anomalies", "u32 x2", 8, 8},
    {0x15E0, "DataIdentifier_IntrusionDetectionSystemDisableTime", "u32", 4, 4},
    {0x4943, "DataIdentifier_IntrusionDetectionSystemNumberOfAlerts", "u32", 4, 4},
    {0x4944, "DataIdentifier_IntrusionDetectionSystemGetLog", "u8[64]", 64, 68},
    {0x1176, "DataIdentifier_IDSSomeipDataBusServiceNotAvailable", "u8, bytes", 1, 5},
    {0x1177, "DataIdentifier_IDSSomeipDataBusServiceErrorValueReceived", "u8, bytes", 1, 5},
    {0x1178, "DataIdentifier_IDSSomeipDataBusServiceImplausible", "u8, bytes", 1, 5},
    {0x1179, "DataIdentifier_IDSTazuHttpDataBusServiceNotAvailable", "u8, bytes", 1, 5},
    {0x117A, "DataIdentifier_IDSTazuHttpDataBusServiceImplausible", "u8, bytes", 1, 5},
    {0x117B, "DataIdentifier_IDSTazuHttpDataBusServiceServiceInccorectMissingEncoding", "u8, bytes",
     1, 5},
    {0x49BE, "DataIdentifier_StorageActiveDriverWarnings", "u8 x2, bytes", 2, 6},
    {0x49BF, "DataIdentifier_StorageFilteredDriverWarnings", "u8 x2, bytes", 2, 6},
    {0x49C0, "DataIdentifier_StorageDriverWarningsHistory", "u8 x2, bytes", 2, 6},
    {0x0809, "DataIdentifier_PncCauseFailureInstallationRootCertificateContainer", "u8 x5", 5, 5},
    {0x080A,
     "DataIdentifier_PncCauseFailureCommunicationErrorReportingUnvalidatableRootCertificates",
     "u8 x6", 6, 6},
    {0x080B, "DataIdentifier_PncCauseFailureInstallationVehicleCertificate", "u8 x9", 9, 9},
    {0x080C, "DataIdentifier_PncCauseFailureCommunicationErrorInstallationVehicleCertificate",
     "u8 x7", 7, 7},
    {0x080D, "DataIdentifier_PncCauseFailureCommunicationErrorRevocationVehicleCertificate", "u8",
     1, 1},
    {0x0808, "DataIdentifier_PncCauseFailureInstallationContract", "u8 x6", 6, 6},
    {0x0807, "DataIdentifier_PncCauseFailureCommunicationErrorRevocationContract", "u8", 1, 1},
    {0x15F0, "DataIdentifier_PncCauseFailureCommunicationErrorDiagnosticPush", "u8 x4", 4, 4},
    {0x0806, "DataIdentifier_PncCauseFailureInstallationRootCertificateContainerLifetime", "u16 x5",
     10, 10},
    {0x0805,
     "DataIdentifier_"
     "PncCauseFailureCommunicationErrorReportingUnvalidatableRootCertificatesLifetime",
     "u16 x6", 12, 12},
    {0x0804, "DataIdentifier_PncCauseFailureInstallationVehicleCertificateLifetime", "u16 x9", 18,
     18},
    {0x0803,
     "DataIdentifier_PncCauseFailureCommunicationErrorInstallationVehicleCertificateLifetime",
     "u16 x7", 14, 14},
    {0x0802, "DataIdentifier_PncCauseFailureCommunicationErrorRevocationVehicleCertificateLifetime",
     "u16", 2, 2},
    {0x080E, "DataIdentifier_PncCauseFailureInstallationContractLifetime", "u16 x6", 12, 12},
    {0x0801, "DataIdentifier_PncCauseFailureCommunicationErrorRevocationContractLifetime", "u16", 2,
     2},
    {0x15F1, "DataIdentifier_PncCauseFailureCommunicationErrorDiagnosticPushLifetime", "u16 x4", 8,
     8},
    {0x14A0, "DataIdentifier_PositioningStatusInputs", "u8 x11", 11, 11},
    {0x14A1, "DataIdentifier_PositioningStatusOutputs", "u8 x3", 3, 3},
    {0x14A2, "DataIdentifier_PositioningMMPos", "u8[5] x2, u8[3], u8, u8[3], u8 x6, u16", 25, 41},
    {0x14A3, "DataIdentifier_PositioningStatusSystem", "u8 x4, u16 x4, u8 x2", 14, 14},
    {0x1190, "DataIdentifier_BDPSomeipDataBusServiceNotAvailable", "u8, bytes", 1, 5},
    {0x1191, "DataIdentifier_BDPSomeipDataBusServiceErrorValueReceived", "u8, bytes", 1, 5},
    {0x1192, "DataIdentifier_BDPSomeipDataBusServiceImplausible", "u8, bytes", 1, 5},
    {0x0401, "DataIdentifier_NumberOfECUResets", "u8, bytes", 1, 5},
    {0x17F0, "DataIdentifier_EMMCStatisticsAdaptive", "u8, bytes", 1, 5},
    {0x17F2, "DataIdentifier_EMMCBudgetExceedance", "u8", 1, 1},
    {0x0102, "DataIdentifier_BasicSettingsStatus", "u8", 1, 1},
    {0x0261, "DataIdentifier_OBDDrivingCycleSetOnce", "u8", 1, 1},
    {0x0447, "DataIdentifier_Timezone", "u8[9]", 9, 13},
    {0x1186, "DataIdentifier_TMSPSomeipDataBusServiceNotAvailable", "u8, bytes", 1, 5},
    {0x1187, "DataIdentifier_TMSPSomeipDataBusServiceErrorValueReceived", "u8, bytes", 1, 5},
    {0x1188, "DataIdentifier_TMSPSomeipDataBusServiceImplausible", "u8, bytes", 1, 5},
    {0xF186, "DataIdentifier_ActiveDiagnosticSession", "u8", 1, 1},
    {0xF187, "DataIdentifier_OvoSparePartNumber", "u8[11]", 11, 15},
    {0xF189, "DataIdentifier_OvoApplicationSoftwareVersionNumber", "u32", 4, 4},
    {0xF190, "DataIdentifier_VehicleIdentificationNumber", "u8[17]", 17, 21},
    {0xF195, "DataIdentifier_SystemSupplierECUSoftwareVersionNumber", "u8[48]", 48, 52},
    {0xF197, "DataIdentifier_OvoSystemNameOrEngineType", "u8[13]", 13, 17},
    {0xF1AA, "DataIdentifier_OvoWorkshopSystemName", "u8[5]", 5, 9},
    {0xF1B4, "DataIdentifier_TechnicalSpecificationsVersion", "u8 x26", 26, 26},
    {0xF1AF, "DataIdentifier_AUTOSARStandardApplicationSoftwareIdentification", "bytes", 0, 4},
    {0x0189, "DataIdentifier_OvoLogicalBlockDowngradeProtectionVersions", "u8, u8[8] x52", 417,
     625},
    {0x0407, "DataIdentifier_OvoLogicalSoftwareBlockCounterOfProgrammingAttempts", "u16 x52", 104,
     104},
    {0x040F, "DataIdentifier_OvoLogicalSoftwareBlockLockValue", "u16 x52", 104, 104},
    {0x0448, "DataIdentifier_ProgrammingPreconditions", "u8, bytes", 1, 5},
    {0xF15B, "DataIdentifier_FingerprintAndProgrammingDateOfLogicalSoftwareBlocks", "u8[10] x52",
     520, 728},
    {0xF1AB, "DataIdentifier_OvoLogicalSoftwareBlockVersion", "u32 x52", 208, 208},
    {0xF1DF, "DataIdentifier_ECUProgrammingInformation", "u8", 1, 1},
    {0xF1B6, "DataIdentifier_SystemIdentification", "u16 x2", 4, 4},
    {0x01A7, "DataIdentifier_SoftwareVendor", "u8, u16", 3, 3},
    {0x01AF, "DataIdentifier_SoftwareCompositionListIdentification", "u8, u16, bytes", 3, 7},
    {0x0441, "DataIdentifier_SoftwareCompositionListNr", "u8[8] x15", 120, 180},
    {0xF19E, "DataIdentifier_ASAMODXFileIdentifier", "bytes", 0, 4},
    {0xF1A2, "DataIdentifier_ASAMODXFileVersion", "u8[6]", 6, 10},
    {0x0174, "DataIdentifier_UnlockStatusOfECUOfProtectionOfVehicleDiagnosis", "u8 x4", 4, 4},
    {0x3C0E, "DataIdentifier_ModeOfProtectionOfVehicleDiagnosis", "u8", 1, 1},
    {0xF1D5, "DataIdentifier_FDSProjectData", "u8, u32, u8 x2", 7, 7},
    {0x0411, "DataIdentifier_DataBlockDescription", "u8, u16, u8[12], u32", 19, 23},
    {0xF1B1, "DataIdentifier_OvoApplicationDataSetIdentification", "u16, u32, u8 x7", 13, 13},
    {0xF1B3, "DataIdentifier_OvoDataSetName", "u8, u16, u8[12]", 15, 19},
    {0xF17C, "DataIdentifier_OvoKELDAIdentificationString", "u8[7], u8[8], u32 x2", 23, 31},
};

struct Rid_row {
    std::uint16_t id;
    const char* name;
    Kind kind;
    const char* start_parameters;  // "" when none
    std::size_t min_request;
    const char* start_output;
    const char* request_results_output;  // "" when the method does not exist
    const char* stop_output;             // "" when the method does not exist, "void" without record
};

// List index order of get_rid_info.
const Rid_row rid_rows[] = {
    {0x0318, "RoutineService_DriverNotificationHandlerWarnIDTrigger", Kind::full_routine,
     "u16, u8, u16, u8, u16, u8", 9, "u8", "u8", "u8"},
    {0x0301, "RoutineService_HvlmResetChargingProfiles", Kind::full_routine, "u8[3]", 3, "u8", "u8",
     "u8"},
    {0x0300, "RoutineService_HvlmResetChargingStatistics", Kind::full_routine, "u8[3]", 3, "u8",
     "u8", "u8"},
    {0x03E7, "RoutineService_ResetToFactorySetting", Kind::full_routine, "u8[3]", 3, "u8", "u8",
     "void"},
    {0x0366, "RoutineService_ResetOfAllAdaptions", Kind::full_routine, "u8[3]", 3, "u8", "u8",
     "void"},
    {0x045A, "RoutineService_ClearUserDefinedDTCInformation", Kind::full_routine, "u8, u8, u8", 3,
     "u8", "u8", "void"},
    {0x0203, "RoutineService_CheckProgrammingPreconditions", Kind::short_routine, "", 0, "bytes",
     "", ""},
    {0xFF00, "RoutineService_EraseMemory", Kind::short_routine, "u8, u8", 2, "u8", "", ""},
    {0x0202, "RoutineService_CheckMemory", Kind::short_routine, "bytes", 0, "u8", "", ""},
    {0xFF01, "RoutineService_CheckProgrammingDependencies", Kind::short_routine, "", 0, "u8", "",
     ""},
    {0x0544, "RoutineService_VerifyPartialSoftwareChecksum", Kind::short_routine, "u16, bytes", 2,
     "u8", "", ""},
    {0x065E, "RoutineService_ClearDowngradeProtectionData", Kind::full_routine, "", 0, "u8", "u8",
     "u8"},
    {0xC010, "RoutineService_StartUpdate", Kind::full_routine, "u8, u8, bytes", 2, "u8",
     "u8 x4, bytes", "void"},
    {0xC00E, "RoutineService_CheckUpdate", Kind::full_routine, "u8", 1, "u8", "u8 x2", "void"},
    {0x0253, "RoutineService_CalculateIntegrityValidationData", Kind::short_routine, "u8, u8", 2,
     "u8 x2, bytes", "", ""},
    {0x0254, "RoutineService_CalculateIndividualHashValue", Kind::short_routine, "u8, u8, u16", 4,
     "u8 x3, u16, bytes", "", ""},
    {0x029A, "RoutineService_CalculateModuleHashValue", Kind::full_routine, "u8, u8", 2, "u8 x3",
     "u8 x5, bytes", "void"},
    {0xC004, "RoutineService_UnlockProtectionOfVehicleDiagnosis", Kind::short_routine, "bytes", 0,
     "u8 x2", "", ""},
    {0xC005, "RoutineService_LockProtectionOfVehicleDiagnosis", Kind::short_routine, "", 0, "u8 x2",
     "", ""},
    {0xC007, "RoutineService_ResetProtectionOfVehicleDiagnosis", Kind::short_routine, "bytes", 0,
     "u8 x2", "", ""},
    {0xC008, "RoutineService_RequestDataOfProtectionOfVehicleDiagnosis", Kind::short_routine, "u8",
     1, "u8, bytes", "", ""},
    {0xC009, "RoutineService_RequestLoggingDataOfProtectionOfVehicleDiagnosis", Kind::short_routine,
     "u8", 1, "u8, u16, bytes", "", ""},
    {0xC011, "RoutineService_BeginOfWritingOfSecuredDataOfProtectionOfVehicleDiagnosis",
     Kind::short_routine, "bytes", 0, "u8 x2", "", ""},
    {0xC012, "RoutineService_EndOfWritingSecuredDataOfProtectionOfVehicleDiagnosis",
     Kind::short_routine, "u8", 1, "u8 x2", "", ""},
    {0x06A9, "RoutineService_RequestConfigurationOfProtectionOfVehicleDiagnosis",
     Kind::short_routine, "u8", 1, "u8 x2, u16, bytes", "", ""},
    {0x0F02, "RoutineService_CalculateConfigurationStateFingerprintOfProtectionOfVehicleDiagnosis",
     Kind::short_routine, "u8, u16, bytes", 3, "u8 x2, u8[32]", "", ""},
};

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

Field parse_field(const std::string& item) {
    if (item == "u8")
        return {Field::Type::u8, 1};
    if (item == "u16")
        return {Field::Type::u16, 2};
    if (item == "u32")
        return {Field::Type::u32, 4};
    if (item == "bytes")
        return {Field::Type::bytes, 0};
    if (item.size() > 4 && item.compare(0, 3, "u8[") == 0 && item.back() == ']') {
        return {Field::Type::array, std::stoul(item.substr(3, item.size() - 4))};
    }
    throw std::invalid_argument("unknown field notation: " + item);
}

void check_lengths(const Did_row& row, const Layout& layout) {
    if (uds_fixed_length(layout) != row.uds_length ||
        someip_fixed_length(layout) != row.someip_length) {
        throw std::logic_error(std::string("record lengths disagree with the layout of ") +
                               row.name);
    }
}

std::vector<Expected_identifier> build_dids() {
    std::vector<Expected_identifier> result;
    for (const auto& row : did_rows) {
        Expected_identifier entry;
        entry.id = row.id;
        entry.interface_name = row.name;
        entry.kind = Kind::data_identifier;
        entry.output = parse_layout(row.read_output);
        check_lengths(row, entry.output);
        result.push_back(std::move(entry));
    }
    return result;
}

std::vector<Expected_identifier> build_rids() {
    std::vector<Expected_identifier> result;
    for (const auto& row : rid_rows) {
        Expected_identifier entry;
        entry.id = row.id;
        entry.interface_name = row.name;
        entry.kind = row.kind;
        entry.start_parameters = parse_layout(row.start_parameters);
        entry.output = parse_layout(row.start_output);
        entry.min_request = row.min_request;
        if (row.kind == Kind::full_routine) {
            entry.request_results = parse_layout(row.request_results_output);
            if (std::string(row.stop_output) != "void")
                entry.stop = parse_layout(row.stop_output);
        }
        if (uds_fixed_length(entry.start_parameters) != row.min_request) {
            throw std::logic_error(std::string("request length disagrees with the parameters of ") +
                                   row.name);
        }
        result.push_back(std::move(entry));
    }
    return result;
}

const Expected_identifier& find(const std::vector<Expected_identifier>& table, std::uint16_t id) {
    const auto it = std::find_if(table.begin(), table.end(),
                                 [id](const Expected_identifier& e) { return e.id == id; });
    if (it == table.end())
        throw std::out_of_range("identifier not in the catalogue");
    return *it;
}

}  // namespace

Layout parse_layout(const std::string& notation) {
    Layout layout;
    std::size_t begin = 0;
    while (begin < notation.size()) {
        auto end = notation.find(',', begin);
        if (end == std::string::npos)
            end = notation.size();
        auto item = trim(notation.substr(begin, end - begin));
        std::size_t count = 1;
        const auto times = item.find(" x");
        if (times != std::string::npos) {
            count = std::stoul(item.substr(times + 2));
            item = item.substr(0, times);
        }
        const auto field = parse_field(item);
        layout.insert(layout.end(), count, field);
        begin = end + 1;
    }
    for (std::size_t i = 0; i + 1 < layout.size(); ++i) {
        if (layout[i].type == Field::Type::bytes) {
            throw std::invalid_argument("a byte sequence must be the last member: " + notation);
        }
    }
    return layout;
}

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

void PrintTo(const Expected_identifier& entry, std::ostream* out) {
    char id[8];
    std::snprintf(id, sizeof id, "0x%04X", entry.id);
    *out << id << ' ' << entry.interface_name;
}

bool ends_with_bytes(const Layout& layout) {
    return !layout.empty() && layout.back().type == Field::Type::bytes;
}

std::size_t uds_fixed_length(const Layout& layout) {
    std::size_t length = 0;
    for (const auto& field : layout) {
        if (field.type != Field::Type::bytes)
            length += field.size;
    }
    return length;
}

std::size_t someip_fixed_length(const Layout& layout) {
    std::size_t length = 0;
    for (const auto& field : layout) {
        const bool length_field =
            field.type == Field::Type::array || field.type == Field::Type::bytes;
        length += field.size + (length_field ? 4 : 0);
    }
    return length;
}

}  // namespace integration
