#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Handle of one pending delayed action. Destroying or cancelling it stops the action; the
// action also never runs once its owner object is gone.
class Temporizador {
public:
    struct Marca {
        bool vivo = true;
        std::function<void()> alCancelar;
    };

    Temporizador() = default;
    explicit Temporizador(std::shared_ptr<Marca> marca) : marca_(std::move(marca)) {}
    Temporizador(const Temporizador&) = delete;
    Temporizador& operator=(const Temporizador&) = delete;
    Temporizador(Temporizador&& otro) noexcept : marca_(std::move(otro.marca_)) {}
    Temporizador& operator=(Temporizador&& otro) noexcept;
    ~Temporizador() { cancelar(); }

    void cancelar();
    bool activo() const { return marca_ && marca_->vivo; }

private:
    std::shared_ptr<Marca> marca_;
};

// Time as the program sees it: the wall clock, a monotonic count of seconds, and delayed actions
// on the main thread. Components take a Reloj& so that tests drive time virtually.
class Reloj {
public:
    virtual ~Reloj() = default;

    virtual QDateTime ahora() const;    // wall clock, UTC
    virtual double segundos() const;    // monotonic seconds since an arbitrary origin

    // Runs `accion` once after `segundos` seconds (0 or less: on the next turn of the loop).
    [[nodiscard]] virtual Temporizador programar(double segundos, QObject* dueno,
                                                 std::function<void()> accion);

    static Reloj& sistema();
};

// Virtual time for tests: nothing happens until `avanzar` moves the clock; due actions then run
// in order of their due time (ties in order of programming).
class RelojVirtual : public Reloj {
public:
    explicit RelojVirtual(QDateTime inicio = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC));

    QDateTime ahora() const override;
    double segundos() const override { return t_; }
    Temporizador programar(double segundos, QObject* dueno, std::function<void()> accion) override;

    void avanzar(double segundos);
    // Seconds until the next live action, if any; and how many are pending.
    std::optional<double> proximo() const;
    int pendientes() const;

private:
    struct Pendiente {
        double cuando;
        quint64 orden;
        QPointer<QObject> dueno;
        bool teniaDueno;
        std::shared_ptr<Temporizador::Marca> marca;
        std::function<void()> accion;
    };
    void purgar();

    QDateTime inicio_;
    double t_ = 0;
    quint64 contador_ = 0;
    std::vector<Pendiente> pendientes_;
};
