"""A first look at zelk: the Lagrange points of a small time grid."""
import zelk


def main() -> None:
    degree, n_t, T = 2, 4, 1.0
    points = zelk.get_lagrange_points(degree, n_t, T)
    print(f"Lagrange points of degree {degree} on [0, {T}] cut into {n_t} sub-intervals:")
    for k in range(n_t):
        nodes = points[k * degree : (k + 1) * degree + 1]
        print(f"  sub-interval {k}: " + ", ".join(f"{x:.4f}" for x in nodes))


if __name__ == "__main__":
    main()
