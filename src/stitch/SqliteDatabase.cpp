#include "stitch/SqliteDatabase.h"

namespace quiltara {
namespace {

[[noreturn]] void Throw(sqlite3* db, const std::string& doing) {
    throw SqliteError(doing + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory"));
}

} // namespace

SqliteStatement::SqliteStatement(sqlite3* db, const std::string& sql) : db_(db) {
    sqlite3_stmt* statement = nullptr;
    const int result =
        sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr);
    statement_.reset(statement);
    if (result != SQLITE_OK) {
        Throw(db, "cannot prepare '" + sql + "'");
    }
}

void SqliteStatement::Check(int result, const char* doing) const {
    if (result != SQLITE_OK) {
        Throw(db_, doing);
    }
}

SqliteStatement& SqliteStatement::Bind(int place, std::int64_t value) {
    Check(sqlite3_bind_int64(statement_.get(), place, value), "cannot bind a number");
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int place, double value) {
    Check(sqlite3_bind_double(statement_.get(), place, value), "cannot bind a number");
    return *this;
}

SqliteStatement& SqliteStatement::Bind(int place, const std::string& text) {
    Check(sqlite3_bind_text(statement_.get(), place, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT),
          "cannot bind a text");
    return *this;
}

SqliteStatement& SqliteStatement::BindNull(int place) {
    Check(sqlite3_bind_null(statement_.get(), place), "cannot bind a null");
    return *this;
}

SqliteStatement& SqliteStatement::BindBlob(int place, std::span<const unsigned char> bytes) {
    Check(
        sqlite3_bind_blob64(statement_.get(), place, bytes.data(), bytes.size(), SQLITE_TRANSIENT),
        "cannot bind the tile's bytes");
    return *this;
}

bool SqliteStatement::Step() {
    const int result = sqlite3_step(statement_.get());
    if (result == SQLITE_ROW) {
        return true;
    }
    if (result != SQLITE_DONE) {
        Throw(db_, std::string("cannot run '") + sqlite3_sql(statement_.get()) + "'");
    }
    return false;
}

void SqliteStatement::Run() {
    while (Step()) {
    }
    Reset();
}

void SqliteStatement::Reset() {
    sqlite3_reset(statement_.get());
    sqlite3_clear_bindings(statement_.get());
}

std::int64_t SqliteStatement::Integer(int column) const {
    return sqlite3_column_int64(statement_.get(), column);
}

std::string SqliteStatement::Text(int column) const {
    const unsigned char* text = sqlite3_column_text(statement_.get(), column);
    const int size = sqlite3_column_bytes(statement_.get(), column);
    return text != nullptr
               ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size))
               : std::string();
}

std::span<const unsigned char> SqliteStatement::Blob(int column) const {
    const void* data = sqlite3_column_blob(statement_.get(), column);
    const int size = sqlite3_column_bytes(statement_.get(), column);
    return data != nullptr ? std::span<const unsigned char>(static_cast<const unsigned char*>(data),
                                                            static_cast<std::size_t>(size))
                           : std::span<const unsigned char>();
}

SqliteDatabase::SqliteDatabase(const std::string& path, Mode mode) {
    const int flags =
        mode == Mode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    sqlite3* db = nullptr;
    const int result = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    db_.reset(db); // a handle comes back even when the open fails, and must be closed
    if (result != SQLITE_OK) {
        Throw(db, "cannot open '" + path + "'");
    }
}

void SqliteDatabase::Execute(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message != nullptr ? message : sqlite3_errmsg(db_.get());
        sqlite3_free(message);
        throw SqliteError("cannot run '" + sql.substr(0, 60) + "': " + text);
    }
}

void SqliteDatabase::Close() {
    if (db_ && sqlite3_close(db_.get()) != SQLITE_OK) {
        // A statement still open keeps the handle; the destructor tries again.
        Throw(db_.get(), "cannot close the database");
    }
    (void)db_.release();
}

} // namespace quiltara
